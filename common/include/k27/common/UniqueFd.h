// Sole owner of a file descriptor: closes it once, when it goes out of scope
// or is reset, so that no error path has to.
#pragma once

namespace vantrel::common {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }
  // Gives the descriptor up without closing it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the held descriptor (if any) and takes `fd`.
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Moves a descriptor that landed on 0, 1 or 2 (because the process was
// started with a standard stream closed) to the lowest free number above
// them, close-on-exec, and closes the original. Otherwise a program's next
// write to "standard output" would go into a board's shared record or the
// daemon's socket. Returns the descriptor to use, or -1 with errno set.
int KeepOffStandardStreams(int fd);

}  // namespace vantrel::common
