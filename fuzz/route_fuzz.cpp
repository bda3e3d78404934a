// /proc/net/route lines, whole and from after the interface name. A gateway is only reported
// for the interface asked for, and only for a route that is up and goes through a gateway.
#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

BRIM_FUZZ_TARGET {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  std::string ifname = r.text();
  std::string_view line = r.rest();
  uint32_t gateway = 0x5A5A5A5A;
  if (brim::parse_route_gateway_line(line, ifname, gateway)) brim_fuzz::require(line.find(ifname) != std::string_view::npos);
  brim::RouteLine route;
  if (brim::parse_route_line(line, route)) (void)route.flags;
  return 0;
}
