// Whole-call file writes and reads: each call opens, works and closes within itself.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "brimlib.h"
#include "brimlib/common/unique_fd.h"

namespace {

// Restores the file-creation mask however the caller leaves.
class UmaskCleared {
 public:
  UmaskCleared() : old_(::umask(0)) {}
  ~UmaskCleared() { ::umask(old_); }
  UmaskCleared(const UmaskCleared &) = delete;
  UmaskCleared &operator=(const UmaskCleared &) = delete;

 private:
  mode_t old_;
};

}  // namespace

extern "C" {

int f_write(const char *path, const void *data, int len, int flags, unsigned int mode) {
  if (path == nullptr) return -1;
  UmaskCleared mask;  // a created file gets exactly the mode asked for
  int oflags = O_WRONLY | O_CREAT | O_CLOEXEC | ((flags & WRITE_FLAG_APPEND) ? O_APPEND : O_TRUNC);
  brim::unique_fd fd(::open(path, oflags, mode != 0 ? static_cast<mode_t>(mode) : 0666));
  if (!fd) return -1;

  int result = -1;
  if (data != nullptr) {
    // A negative length is a failed write: nothing is written, and no newline after it.
    ssize_t w = len >= 0 ? ::write(fd.get(), data, static_cast<size_t>(len)) : -1;
    result = static_cast<int>(w);
    if (w < 0 || w != len) return result;
  }
  if (flags & WRITE_FLAG_NEWLINE) {
    if (::write(fd.get(), "\n", 1) == 1) ++result;
  }
  return result;
}

int f_read(const char *path, void *buf, int offset, int len) {
  if (path == nullptr) return -1;
  brim::unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return -1;
  if (buf == nullptr || len < 0) return -1;
  ::lseek(fd.get(), offset, SEEK_SET);  // a failed positioning shows as a read from the start
  return static_cast<int>(::read(fd.get(), buf, static_cast<size_t>(len)));
}

int write_line_to_file(const char *path, int mode, const char *line) {
  int oflags;
  if (mode == 1)
    oflags = O_RDWR | O_CREAT | O_TRUNC;
  else if (mode == 2)
    oflags = O_RDWR | O_APPEND;
  else
    return 0;
  brim::unique_fd fd(path ? ::open(path, oflags | O_CLOEXEC, 0666) : -1);
  if (!fd) {
    std::fprintf(stderr, "Create %s error!\n", path ? path : "(null)");
    return 0;
  }
  // Written straight from the caller's text, so a line of any length goes out whole.
  if (line != nullptr) {
    size_t n = std::strlen(line);
    if (n > 0) (void)!::write(fd.get(), line, n);
  }
  return 1;
}

}  // extern "C"
