// A marker-file lock: held while the file exists.
#include <fcntl.h>
#include <unistd.h>

#include "brimlib.h"
#include "brimlib/common/unique_fd.h"

extern "C" {

int lock_file(const char *path) {
  if (path == nullptr) return 0;
  // Testing for the file and creating it is one exclusive step, so of any number of callers
  // racing for a free lock exactly one gets it. Any failure to create means "not taken".
  brim::unique_fd fd(::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0400));
  return fd ? 1 : 0;
}

int unlock_file(const char *path) {
  if (path != nullptr) ::unlink(path);
  return 1;
}

}  // extern "C"
