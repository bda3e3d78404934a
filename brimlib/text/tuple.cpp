// Picking one token of a short semicolon-separated tuple, strtok style.
#include <cstring>

#include "brimlib.h"

namespace {
constexpr size_t kTupleMax = 128;  // source shorter than this; token at most 127 characters
}

extern "C" int checkVar(const char *src, int n, char *out) {
  char token[kTupleMax] = {};
  size_t src_len = src ? ::strnlen(src, kTupleMax) : 0;
  if (src_len > 0 && src_len < kTupleMax && n >= 1 && n <= 4) {
    char work[kTupleMax];
    std::memcpy(work, src, src_len + 1);
    // strtok_r keeps its position in `save`, so another tokenizing walk in the process is safe.
    char *save = nullptr;
    char *tok = ::strtok_r(work, ";", &save);
    for (int i = 1; tok != nullptr && i < n; ++i) tok = ::strtok_r(nullptr, ";", &save);
    if (tok != nullptr) std::memcpy(token, tok, ::strlen(tok) + 1);
  }
  if (out != nullptr) std::memcpy(out, token, ::strlen(token) + 1);
  return 0;
}
