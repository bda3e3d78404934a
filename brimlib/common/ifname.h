// Interface names that may reach a shell command line or a driver request.
#pragma once

#include <cstddef>

namespace brim {

constexpr size_t kIfNameMax = 15;  // IFNAMSIZ less the terminator

// A plain Linux interface name: 1 to 15 characters, each a letter, a digit, '.', '_' or '-'.
// Anything else (spaces, quotes, $, ;, line breaks, an over-long name) is refused, so such a
// name is never cut into a different one nor run as shell code. A leading '-' is refused too: a
// command would take the name for an option.
inline bool is_plain_ifname(const char *name) {
  if (name == nullptr || *name == '\0' || *name == '-') return false;
  size_t n = 0;
  for (; name[n]; ++n) {
    char c = name[n];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '_' || c == '-';
    if (!ok || n >= kIfNameMax) return false;
  }
  return true;
}

}  // namespace brim
