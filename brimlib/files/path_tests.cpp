// Stateless questions about a path, one status call each.
#include <sys/stat.h>

#include "brimlib.h"

namespace {

bool stat_of(const char *path, struct stat &st, bool follow) {
  if (path == nullptr || *path == '\0') return false;
  return (follow ? ::stat(path, &st) : ::lstat(path, &st)) == 0;
}

}  // namespace

extern "C" {

int isFileExist(const char *path) {
  struct stat st;
  return stat_of(path, st, true) ? 1 : 0;
}

int f_exists(const char *path) {
  struct stat st;
  return stat_of(path, st, true) && !S_ISDIR(st.st_mode) ? 1 : 0;
}

int f_file_exist(const char *path) {
  struct stat st;
  return stat_of(path, st, true) && S_ISREG(st.st_mode) ? 1 : 0;
}

int d_exist(const char *path) {
  struct stat st;
  return stat_of(path, st, true) && S_ISDIR(st.st_mode) ? 1 : 0;
}

int l_exist(const char *path) {
  struct stat st;
  return stat_of(path, st, false) && S_ISLNK(st.st_mode) ? 1 : 0;
}

int32_t f_size(const char *path) {
  struct stat st;
  if (!stat_of(path, st, true)) return -1;
  // A size past 2 GiB must not wrap into the failure value.
  if (st.st_size > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(st.st_size);
}

}  // extern "C"
