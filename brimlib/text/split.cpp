// Splitting delimited lists: every field into a block of rows, or one field by its index.
// Neither touches the source text.
#include <cstddef>
#include <cstring>

#include "brimlib.h"

extern "C" {

int splitString2Arr_v2(const char *src, char *dst, int rows, int row_size, char delim) {
  if (src == nullptr || *src == '\0' || dst == nullptr || rows <= 0 || row_size <= 0) return -1;
  const size_t width = static_cast<size_t>(row_size);
  const size_t limit = width - 1;  // characters a field may hold
  size_t row = 0, len = 0;
  char *field = dst;
  for (const char *p = src; *p != '\0'; ++p) {
    if (*p == delim) {
      field[len] = '\0';
      if (++row >= static_cast<size_t>(rows)) return -1;
      field = dst + row * width;
      len = 0;
      continue;
    }
    if (len == limit) {
      field[len] = '\0';
      return -1;
    }
    field[len++] = *p;
  }
  field[len] = '\0';
  return static_cast<int>(row + 1);
}

int getNthValueSafe(int index, const char *src, char delim, char *out, int len) {
  if (src == nullptr || out == nullptr || len <= 0 || index < 0) return -1;
  const char *start = src;
  for (int skipped = 0; skipped < index; ++skipped) {
    const char *d = std::strchr(start, delim);
    // strchr also finds the terminator when delim is '\0'; that is not a delimiter here.
    if (d == nullptr || *d == '\0') return -1;
    start = d + 1;
  }
  size_t field = 0;
  while (start[field] != '\0' && start[field] != delim) ++field;
  size_t n = field < static_cast<size_t>(len) - 1 ? field : static_cast<size_t>(len) - 1;
  std::memcpy(out, start, n);
  out[n] = '\0';
  return 0;
}

}  // extern "C"
