// File descriptors owned or borrowed, closed exactly once.
#ifndef ORVIKSDK_SRC_LOCAL_FD_H_
#define ORVIKSDK_SRC_LOCAL_FD_H_

#include <unistd.h>

#include <utility>

namespace ovk {
namespace local {

// A descriptor that is closed on destruction when it is owned. A borrowed
// descriptor (the store's root) stays open.
class Fd {
 public:
  Fd() = default;
  static Fd Owned(int fd) { return Fd(fd, true); }
  static Fd Borrowed(int fd) { return Fd(fd, false); }
  ~Fd() { reset(); }
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)), owned_(o.owned_) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      reset();
      fd_ = std::exchange(o.fd_, -1);
      owned_ = o.owned_;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership; the caller closes the descriptor.
  int release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
  }

 private:
  Fd(int fd, bool owned) : fd_(fd), owned_(owned) {}
  int fd_ = -1;
  bool owned_ = false;
};

}  // namespace local
}  // namespace ovk

#endif  // ORVIKSDK_SRC_LOCAL_FD_H_
