// MAC address text check: "xx:xx:xx:xx:xx:xx", hex digits of either case.
#include "brimlib.h"

extern "C" int isMacValid(const char *text) {
  if (text == nullptr) return 0;
  for (int i = 0; i < 17; ++i) {
    char c = text[i];  // a shorter text stops here at its terminator, which fails both tests
    if (i % 3 == 2) {
      if (c != ':') return 0;
    } else if (!_is_hex(c)) {
      return 0;
    }
  }
  return text[17] == '\0' ? 1 : 0;
}
