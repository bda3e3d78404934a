// Readers of the kernel's network tables under /proc/net and of the resolver configuration. Each
// call opens its file, walks it line by line through the pure parsers and closes it.
#include "brimlib/net/kernel_tables.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "brimlib/common/unique_fd.h"
#include "brimlib/net/proc_parse.h"

namespace {

constexpr const char kNetDev[] = "/proc/net/dev";
constexpr const char kArp[] = "/proc/net/arp";
constexpr const char kRoute[] = "/proc/net/route";
constexpr const char kResolv[] = "/etc/resolv.conf";
constexpr const char kResolvFallback[] = "/etc/resolv.dnsmasq.conf";
constexpr const char kNoAddress[] = "0.0.0.0";

// Line buffers: the kernel's lines fit them with room to spare.
constexpr size_t kNetDevLine = 512;
constexpr size_t kArpLine = 256;
constexpr size_t kRouteLine = 1023;
constexpr size_t kRealGatewayLine = 256;
constexpr size_t kResolvLine = 80;

char g_dns[16];

brim::unique_file open_read(const char *path) { return brim::unique_file(std::fopen(path, "re")); }

void copy_text(std::string_view text, char *out) {
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
}

void write_dotted_quad(uint32_t network_order, char *out) {
  struct in_addr a;
  a.s_addr = network_order;
  const char *text = ::inet_ntoa(a);
  std::memcpy(out, text, std::strlen(text) + 1);
}

// The n-th usable name server of an open resolver file into g_dns; false when there are fewer.
bool nth_nameserver(FILE *f, int n) {
  char buf[kResolvLine];
  std::string_view line;
  bool whole = true;
  int count = 0;
  while (brim::read_table_line(f, buf, sizeof buf, line, whole)) {
    std::string_view server;
    if (!brim::parse_nameserver_line(line, server)) continue;
    // In a line longer than the buffer, the server word counts only if it ended inside it.
    if (!whole && server.data() + server.size() == line.data() + line.size()) continue;
    copy_text(server, g_dns);
    if (++count == n) return true;
  }
  return false;
}

}  // namespace

namespace brim {

bool read_table_line(FILE *f, char *buf, size_t cap, std::string_view &line, bool &whole) {
  if (std::fgets(buf, static_cast<int>(cap), f) == nullptr) return false;
  size_t n = std::strlen(buf);
  line = std::string_view(buf, n);
  whole = true;
  if (n > 0 && buf[n - 1] == '\n') return true;
  int c = std::getc(f);
  if (c == EOF || (c == '\n' && n + 1 == cap)) return true;  // last line, or one that just fit
  // Too long (or a stray NUL byte inside): drop the rest, so it never passes for a line.
  while (c != EOF && c != '\n') c = std::getc(f);
  whole = false;
  return true;
}

int netdev_stats_from(FILE *f, std::string_view ifname, NetDevStats &stats) {
  char buf[kNetDevLine];
  std::string_view line;
  bool whole = true;
  if (!read_table_line(f, buf, sizeof buf, line, whole)) return -1;
  if (!read_table_line(f, buf, sizeof buf, line, whole)) return -1;
  NetDevLayout layout = netdev_layout(line);
  while (read_table_line(f, buf, sizeof buf, line, whole)) {
    if (whole && parse_netdev_line(line, ifname, layout, stats)) return 0;
  }
  return -1;
}

}  // namespace brim

extern "C" {

int getStats(const char *ifname, NetDevStats *stats) {
  brim::unique_file f = open_read(kNetDev);
  if (!f) {
    std::printf("Warning: cannot open %s\n", kNetDev);
    return -1;
  }
  // An empty name would match a blank line; no interface has one.
  if (ifname == nullptr || *ifname == '\0' || stats == nullptr) return -1;
  return brim::netdev_stats_from(f.get(), ifname, *stats);
}

void arplookup(const char *ip, char *mac) {
  if (mac == nullptr) return;
  brim::unique_file f = open_read(kArp);
  if (!f) {
    mac[0] = '\0';
    return;
  }
  copy_text("00:00:00:00:00:00", mac);
  if (ip == nullptr) return;
  char buf[kArpLine];
  std::string_view line;
  bool whole = true;
  while (brim::read_table_line(f.get(), buf, sizeof buf, line, whole)) {
    std::string_view hw;
    if (whole && brim::parse_arp_line(line, ip, hw)) {
      copy_text(hw, mac);  // at most 17 characters, as the parser guarantees
      return;
    }
  }
}

int getDefaultRoute(const char *ifname, uint32_t *gateway) {
  brim::unique_file f = open_read(kRoute);
  if (!f) {
    std::printf("Open %s file error.\n", kRoute);
    return -1;
  }
  if (ifname == nullptr || gateway == nullptr) return 0;
  char buf[kRouteLine];
  std::string_view line;
  bool whole = true;
  while (brim::read_table_line(f.get(), buf, sizeof buf, line, whole)) {
    uint32_t gw = 0;
    if (whole && brim::parse_route_gateway_line(line, ifname, gw)) {
      *gateway = gw;
      return 1;
    }
  }
  return 0;
}

const char *getWanGateway(void) {
  char name[32];
  std::memset(name, 0, sizeof name);
  uint32_t gateway = 0;
  getWanIfName(name);
  if (getDefaultRoute(name, &gateway) == -1) return kNoAddress;
  struct in_addr a;
  a.s_addr = gateway;
  return ::inet_ntoa(a);
}

void getRealGateway(char *gw) {
  if (gw == nullptr) return;
  brim::unique_file f = open_read(kRoute);
  if (!f) {
    gw[0] = '\0';
    return;
  }
  char buf[kRealGatewayLine];
  std::string_view line;
  bool whole = true;
  if (!brim::read_table_line(f.get(), buf, sizeof buf, line, whole)) {  // the header
    gw[0] = '\0';
    return;
  }
  while (brim::read_table_line(f.get(), buf, sizeof buf, line, whole)) {
    brim::RouteLine route;
    // A line that cannot be read ends the search with the caller's text as it was: nothing
    // about the default route can be said past it.
    if (!whole || !brim::parse_route_line(line, route)) return;
    if ((route.flags & brim::kRouteUp) == 0 || route.destination != 0) continue;
    if (route.gateway == 0) {
      gw[0] = '\0';
    } else {
      write_dotted_quad(route.gateway, gw);
    }
    return;
  }
  gw[0] = '\0';
}

const char *getDns(int n) {
  brim::unique_file f = open_read(kResolv);
  if (!f) f = open_read(kResolvFallback);
  if (!f) return kNoAddress;
  return nth_nameserver(f.get(), n) ? g_dns : kNoAddress;
}

}  // extern "C"
