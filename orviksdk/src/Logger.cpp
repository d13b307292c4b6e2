#include "Logger.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace ovk {

Logger::~Logger() {
  if (fd_ >= 0) ::close(fd_);
}

Error Logger::configure(const Options& options) {
  std::string appender = options.get(kOptLoggerAppender, "file");
  if (appender == "none") {
    appender_ = Appender::kNone;
  } else if (appender == "stderr") {
    appender_ = Appender::kStderr;
  } else if (appender == "file") {
    std::string dir = options.get(kOptLoggerDir, "");
    if (dir.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    file_ = dir + (dir == "/" ? "" : "/") + "orviksdk.log";
    appender_ = Appender::kFile;
  } else {
    appender_ = Appender::kNone;
    return Error::InvalidArgument("option logger.appender must be file, stderr or none, not \"" +
                                  appender + "\"");
  }
  return Error();
}

void Logger::failure(const char* operation, const Error& error) {
  if (appender_ == Appender::kNone) return;
  std::string text = operation;
  text += " code ";
  text += std::to_string(error.code());
  text += ": ";
  text += error.message();
  line("ERROR", text);
}

void Logger::retry(const std::string& what) {
  if (appender_ == Appender::kNone) return;
  line("RETRY", what);
}

void Logger::line(const char* level, const std::string& text) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm utc;
  gmtime_r(&now.tv_sec, &utc);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ ",
                utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                utc.tm_min, utc.tm_sec, now.tv_nsec / 1000000);
  std::string out = stamp;
  out += level;
  out += ' ';
  for (char c : text) out += (c == '\n' || c == '\r') ? ' ' : c;
  out += '\n';

  std::lock_guard<std::mutex> lock(mu_);
  int fd = STDERR_FILENO;
  if (appender_ == Appender::kFile) {
    if (fd_ < 0) {
      // O_NOFOLLOW: in a shared folder such as /tmp, a link planted under
      // the log's name must not make us append to someone else's file.
      fd_ = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0644);
      // A log that cannot be opened must not fail the caller's operation.
      if (fd_ < 0) return;
    }
    fd = fd_;
  }
  // One write per line; a short or failed write loses log text only.
  ssize_t ignored = ::write(fd, out.data(), out.size());
  (void)ignored;
}

}  // namespace ovk
