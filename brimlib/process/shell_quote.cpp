// The one quoting helper for text that reaches a shell command line.
#include <cstring>

#include "brimlib.h"

// Single quotes keep every byte literal except the single quote itself, which is written as
// '\'' (close, escaped quote, reopen). The result is always exactly one shell word.
extern "C" int brim_shell_quote(const char *text, char *out, int cap) {
  if (out == nullptr || cap <= 0) return -1;
  out[0] = '\0';
  if (text == nullptr) return -1;
  size_t need = 2;
  for (const char *p = text; *p; ++p) need += (*p == '\'') ? 4 : 1;
  if (need + 1 > static_cast<size_t>(cap)) return -1;
  char *o = out;
  *o++ = '\'';
  for (const char *p = text; *p; ++p) {
    if (*p == '\'') {
      std::memcpy(o, "'\\''", 4);
      o += 4;
    } else {
      *o++ = *p;
    }
  }
  *o++ = '\'';
  *o = '\0';
  return static_cast<int>(o - out);
}
