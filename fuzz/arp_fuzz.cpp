// /proc/net/arp lines: any line and any address asked for. A hit is a view into the line that
// fits the caller's 18-byte field.
#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

BRIM_FUZZ_TARGET {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  std::string ip = r.text();
  std::string_view line = r.rest(), mac;
  for (std::string_view want : {std::string_view(ip), std::string_view("192.168.1.2"), std::string_view()})
    if (brim::parse_arp_line(line, want, mac)) brim_fuzz::require(mac.size() <= 17 && brim_fuzz::inside(mac, line));
  return 0;
}
