#pragma once

#include <unistd.h>

#include <utility>

// A file descriptor with one owner, closed once when the owner goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // Closes now and reports close's own result, which can carry a delayed write error.
  int close_now() {
    int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result;
  }
  void reset() { close_now(); }
  // Hands the descriptor to a new owner.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_ = -1;
};
