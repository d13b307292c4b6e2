// Helpers shared by the fake's ovk_* functions.
#ifndef TESTS_NATIVE_FAKE_SDK_FAKE_API_H_
#define TESTS_NATIVE_FAKE_SDK_FAKE_API_H_

#include <sstream>
#include <string>
#include <type_traits>

#include "fake_state.h"

namespace ovkfake {

inline void appendArg(std::ostringstream& out, const char* text) {
  out << (text != nullptr ? text : "null");
}
inline void appendArg(std::ostringstream& out, const std::string& text) {
  out << text;
}
template <typename T,
          typename = std::enable_if_t<std::is_arithmetic_v<T>>>
void appendArg(std::ostringstream& out, T value) {
  if constexpr (std::is_same_v<T, bool>) {
    out << (value ? '1' : '0');
  } else {
    out << value;
  }
}

// "function(arg,arg,...)"
template <typename... Args>
std::string line(const char* function, const Args&... args) {
  std::ostringstream out;
  out << function << '(';
  bool first = true;
  ((out << (first ? "" : ","), appendArg(out, args), first = false), ...);
  out << ')';
  return out.str();
}

// Reply of a bool function: true unless scripted otherwise.
inline Reply boolReply(const std::optional<Answer>& answer) {
  Reply reply;
  reply.value = 1;
  if (answer) {
    reply.code = answer->code;
    reply.message = answer->message;
    reply.value = answer->ret != 0 ? 1 : 0;
  }
  return reply;
}

// True when the answer asks for a failed or null object result.
inline bool noObject(const std::optional<Answer>& answer) {
  return answer && (answer->code != 0 ||
                    (answer->result == Answer::Result::kDefault &&
                     answer->ret == 0));
}

inline Reply failedReply(const Answer& answer, int64_t value) {
  Reply reply;
  reply.code = answer.code;
  reply.message = answer.message;
  reply.value = value;
  return reply;
}

template <typename T>
T* as(void* handle) {
  return reinterpret_cast<T*>(handle);
}

}  // namespace ovkfake

#endif  // TESTS_NATIVE_FAKE_SDK_FAKE_API_H_
