// /proc/net/route lines, whole and from after the interface name. A gateway is only reported
// for the interface asked for, and only for a route that is up and goes through a gateway.
#include <cstdlib>

#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  std::string ifname = r.text();
  std::string_view line = r.rest();

  uint32_t gateway = 0x5A5A5A5A;
  if (brim::parse_route_gateway_line(line, ifname, gateway)) {
    if (line.find(ifname) == std::string_view::npos) std::abort();
  }
  brim::RouteLine route;
  if (brim::parse_route_line(line, route)) (void)route.flags;
  return 0;
}
