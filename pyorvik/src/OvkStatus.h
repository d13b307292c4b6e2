// OvkStatus: the outcome of every native operation of the client.
//
// Cheap when OK (code 0, empty message). A failed status carries the code
// and a message assembled once, where the cause is known, from pieces joined
// by concat(). Statuses are plain values: copy, move and pass them freely.
#ifndef PYORVIK_SRC_OVKSTATUS_H_
#define PYORVIK_SRC_OVKSTATUS_H_

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

class OvkStatus {
 public:
  static constexpr int32_t kOk = 0;
  static constexpr int32_t kInitError = 1000;
  static constexpr int32_t kNotFound = 3001;
  static constexpr int32_t kIOError = 3005;

  OvkStatus() = default;
  OvkStatus(int32_t code, std::string message)
      : code_(code), message_(std::move(message)) {}
  virtual ~OvkStatus() = default;

  OvkStatus(const OvkStatus&) = default;
  OvkStatus(OvkStatus&&) noexcept = default;
  OvkStatus& operator=(const OvkStatus&) = default;
  OvkStatus& operator=(OvkStatus&&) noexcept = default;

  bool ok() const { return code_ == kOk; }
  int32_t code() const { return code_; }
  const std::string& message() const { return message_; }
  std::string errMsg() const { return message_; }

  template <typename... Pieces>
  static OvkStatus IOError(const Pieces&... pieces) {
    return OvkStatus(kIOError, concat(pieces...));
  }
  template <typename... Pieces>
  static OvkStatus NotFound(const Pieces&... pieces) {
    return OvkStatus(kNotFound, concat(pieces...));
  }
  template <typename... Pieces>
  static OvkStatus InternalError(int32_t code, const Pieces&... pieces) {
    return OvkStatus(code, concat(pieces...));
  }
  template <typename... Pieces>
  static OvkStatus InitError(const Pieces&... pieces) {
    return OvkStatus(kInitError, concat("init failed ", pieces...));
  }

  // Writes the pieces one after another with nothing between them: texts
  // byte for byte, integers in plain decimal, booleans as 1 or 0, statuses
  // as "code: <code> msg: <message>".
  template <typename... Pieces>
  static std::string concat(const Pieces&... pieces) {
    std::ostringstream out;
    (appendPiece(out, pieces), ...);
    return out.str();
  }

 private:
  static void appendPiece(std::ostringstream& out, const char* text) {
    if (text != nullptr) out << text;
  }
  static void appendPiece(std::ostringstream& out, const std::string& text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  static void appendPiece(std::ostringstream& out, std::string_view text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  static void appendPiece(std::ostringstream& out, const OvkStatus& status) {
    out << "code: " << status.code_ << " msg: ";
    appendPiece(out, status.message_);
  }
  template <typename T,
            typename = std::enable_if_t<std::is_arithmetic_v<T>>>
  static void appendPiece(std::ostringstream& out, T value) {
    if constexpr (std::is_same_v<T, bool>) {
      out << (value ? '1' : '0');
    } else if constexpr (std::is_same_v<T, char> ||
                         std::is_same_v<T, signed char>) {
      out << static_cast<int>(value);
    } else if constexpr (std::is_same_v<T, unsigned char>) {
      out << static_cast<unsigned>(value);
    } else {
      out << value;
    }
  }
  template <size_t N>
  static void appendPiece(std::ostringstream& out, const char (&text)[N]) {
    appendPiece(out, static_cast<const char*>(text));
  }

  int32_t code_ = kOk;
  std::string message_;
};

#endif  // PYORVIK_SRC_OVKSTATUS_H_
