// The one test for an interface name that may reach the kernel or a shell command line.
#pragma once

#include <string_view>

namespace brim {

// A plain interface name: 1 to 15 characters (it fits IFNAMSIZ with its terminator), only
// letters, digits, '.', '_' and '-', and not starting with '-' (a command would take it for an
// option). Anything else is never passed on: no quoting can make "wlan0;reboot" an interface.
constexpr bool is_plain_ifname(std::string_view name) {
  if (name.empty() || name.size() > 15 || name.front() == '-') return false;
  for (char c : name) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

// The same test on a C string; a null pointer is not a name. Reads at most 16 bytes.
inline bool is_plain_ifname(const char *name) {
  if (name == nullptr) return false;
  size_t n = 0;
  while (n < 16 && name[n] != '\0') ++n;
  return is_plain_ifname(std::string_view(name, n));
}

}  // namespace brim
