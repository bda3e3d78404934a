// Pure readers of single lines of the kernel's network tables and of the resolver file. They
// take a line without its terminator worries (a trailing "\n" is white space like any other),
// never read outside the view, never allocate, and never cut a word to make it fit: a word longer
// than its field makes the line unusable instead.
#pragma once

#include <cstdint>
#include <string_view>

#include "brimlib.h"

namespace brim {

// The three layouts of /proc/net/dev, told apart by the second header line.
enum class NetDevLayout : uint8_t {
  Plain = 1,       // 11 counters: no byte counts
  Bytes = 2,       // 13 counters: byte counts, no multicast or compressed
  Compressed = 3,  // 16 counters
};
NetDevLayout netdev_layout(std::string_view second_header);

// Splits an interface line into its name and the text where its counters begin. The name ends
// at white space or at a colon; "eth0:1:" (a colon, digits, a colon) is the alias "eth0:1" with
// counters after the second colon, while in "eth0:123 ..." the 123 is the first counter.
void split_netdev_line(std::string_view line, std::string_view &name, std::string_view &counters);

// Reads the layout's counters from `counters` into `stats` (as many as are there, in order; the
// rest keep their content), then zeroes what the layout has no column for.
void fill_netdev_counters(NetDevLayout layout, std::string_view counters, NetDevStats &stats);

// One interface line: when its name is exactly `want`, fills `stats` and returns true; any other
// line leaves `stats` alone.
bool parse_netdev_line(std::string_view line, std::string_view want, NetDevLayout layout, NetDevStats &stats);

// One /proc/net/arp line: when it is an entry (not the "IP" header) for address `ip`, sets `mac`
// to its hardware address word (empty when the line has fewer than four words) and returns true.
// Entries whose address exceeds 15 or whose hardware address exceeds 17 characters are never
// entries of an IPv4 address with an Ethernet MAC: false.
bool parse_arp_line(std::string_view line, std::string_view ip, std::string_view &mac);

// One /proc/net/route line read whole: true when it is a route of `ifname` that is up and goes
// through a gateway, with that gateway (network byte order) in `gateway`. The header, short or
// malformed lines and words longer than their fields (interface 16, addresses 128) give false.
bool parse_route_gateway_line(std::string_view line, std::string_view ifname, uint32_t &gateway);

// One /proc/net/route line read from after its interface name: destination, gateway, flags,
// reference count, use, metric, mask. False unless all seven read.
struct RouteLine {
  uint32_t destination = 0;
  uint32_t gateway = 0;
  uint32_t flags = 0;
};
bool parse_route_line(std::string_view line, RouteLine &route);

// Route flags.
inline constexpr uint32_t kRouteUp = 0x1;
inline constexpr uint32_t kRouteGateway = 0x2;

// One resolver file line: true when it begins with "nameserver" and names a server that fits a
// dotted-quad buffer (1 to 15 characters), which `server` then views.
bool parse_nameserver_line(std::string_view line, std::string_view &server);
inline constexpr size_t kNameServerMax = 15;

}  // namespace brim
