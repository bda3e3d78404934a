// /proc/net/arp lines: any line and any address asked for. A hit is a view into the line that
// fits the caller's 18-byte field.
#include <cstdlib>

#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  std::string ip = r.text();
  std::string_view line = r.rest();
  for (std::string_view want : {std::string_view(ip), std::string_view("192.168.1.2"), std::string_view()}) {
    std::string_view mac;
    if (!brim::parse_arp_line(line, want, mac)) continue;
    if (mac.size() > 17) std::abort();
    if (!mac.empty() && (mac.data() < line.data() || mac.data() + mac.size() > line.data() + line.size()))
      std::abort();
  }
  return 0;
}
