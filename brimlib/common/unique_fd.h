// Move-only owners for file descriptors and stdio streams, so every path closes what it opened.
#pragma once

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace brim {

class unique_fd {
 public:
  unique_fd() = default;
  explicit unique_fd(int fd) : fd_(fd) {}
  unique_fd(const unique_fd &) = delete;
  unique_fd &operator=(const unique_fd &) = delete;
  unique_fd(unique_fd &&o) noexcept : fd_(o.release()) {}
  unique_fd &operator=(unique_fd &&o) noexcept {
    reset(o.release());
    return *this;
  }
  ~unique_fd() { reset(); }

  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  explicit operator bool() const { return ok(); }
  [[nodiscard]] int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) {
      int saved = errno;  // close must not hide the error that made us give up
      ::close(fd_);
      errno = saved;
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

class unique_file {
 public:
  unique_file() = default;
  explicit unique_file(FILE *f) : f_(f) {}
  unique_file(const unique_file &) = delete;
  unique_file &operator=(const unique_file &) = delete;
  unique_file(unique_file &&o) noexcept : f_(o.release()) {}
  unique_file &operator=(unique_file &&o) noexcept {
    reset(o.release());
    return *this;
  }
  ~unique_file() { reset(); }

  FILE *get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }
  [[nodiscard]] FILE *release() {
    FILE *f = f_;
    f_ = nullptr;
    return f;
  }
  // Closes now and reports fclose's result (a failed flush of buffered writes shows here).
  int close() {
    FILE *f = release();
    return f ? ::fclose(f) : 0;
  }
  void reset(FILE *f = nullptr) {
    if (f_) ::fclose(f_);
    f_ = f;
  }

 private:
  FILE *f_ = nullptr;
};

}  // namespace brim
