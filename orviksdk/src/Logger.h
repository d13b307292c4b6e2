// Logger: the store's diagnostic log, one line per failed call and per retry.
//
// Configured from the options "logger.appender" (file, the default; stderr;
// none) and "logger.dir" (the folder of the file appender; default $TMPDIR
// or /tmp). The file appender appends to "<dir>/orviksdk.log", opened on
// the first line so a store that never fails creates no file; each line is
// written with a single write(2), so lines of concurrent writers and of
// several processes do not interleave.
//
// Thread-safe. Callers pass messages that never contain secrets (the
// Error convention); line breaks inside a message are replaced by blanks so
// one event stays one line.
#ifndef ORVIKSDK_SRC_LOGGER_H_
#define ORVIKSDK_SRC_LOGGER_H_

#include <mutex>
#include <string>

#include "Error.h"
#include "Options.h"

namespace ovk {

class Logger {
 public:
  enum class Appender { kFile, kStderr, kNone };

  Logger() = default;
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Reads the two logger options; an unknown appender is an error and
  // leaves the logger silent. Call once, before the logger is shared.
  Error configure(const Options& options);

  // "<time> ERROR <operation> code <code>: <message>"
  void failure(const char* operation, const Error& error);
  // "<time> RETRY <what>"; for backends that retry a request.
  void retry(const std::string& what);

  Appender appender() const { return appender_; }
  // The file the file appender writes to (empty for the other appenders).
  const std::string& file() const { return file_; }

 private:
  void line(const char* level, const std::string& text);

  Appender appender_ = Appender::kNone;
  std::string file_;
  std::mutex mu_;
  int fd_ = -1;  // opened lazily under mu_
};

}  // namespace ovk

#endif  // ORVIKSDK_SRC_LOGGER_H_
