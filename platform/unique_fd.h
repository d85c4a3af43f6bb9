// The one owner of raw file descriptors in this code base.
//
// A UniqueFd closes its descriptor when it is destroyed or reset, on every path, and keeps
// errno as it was, so the errno of the failure that made a function give up survives the
// cleanup. Move-only. Close() closes at once and reports a failed close, for the places where
// a failed close can mean lost data (a file that was written).
#ifndef LINDAVOX_PLATFORM_UNIQUE_FD_H
#define LINDAVOX_PLATFORM_UNIQUE_FD_H

#include <string_view>
#include <utility>

namespace platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }

  // Gives the descriptor up to the caller, who closes it from then on.
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (errno kept) and takes `fd` instead.
  void reset(int fd = -1);
  // Closes now. Returns 0, or the errno of the failed close (or the one the fault hook injects
  // for FileOp::kClose on `path`); the descriptor is closed either way. 0 when none is held.
  int Close(std::string_view path = {});

 private:
  int fd_ = -1;
};

}  // namespace platform

#endif
