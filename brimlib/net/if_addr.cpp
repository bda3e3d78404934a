// Live interface addresses from the kernel: one throw-away datagram socket per call, the
// standard SIOCGIF* requests, nothing cached.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "brimlib.h"
#include "brimlib/common/unique_fd.h"

namespace {

constexpr const char kNoAddress[] = "0.0.0.0";
constexpr const char kNoMac[] = "";

char g_wan_ip[20];
char g_wan_netmask[20];
char g_wan_mac[20];
char g_lan_mac[20];

brim::unique_fd open_query_socket() { return brim::unique_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

// A name that does not fit IFNAMSIZ with its terminator is refused rather than cut: the cut
// name could be a different interface that exists.
bool set_name(struct ifreq &ifr, const char *ifname) {
  if (ifname == nullptr) return false;
  size_t n = ::strnlen(ifname, IFNAMSIZ);
  if (n >= IFNAMSIZ) return false;
  std::memcpy(ifr.ifr_name, ifname, n);
  ifr.ifr_name[n] = '\0';
  return true;
}

// The one place that issues interface requests.
bool query(int fd, unsigned long request, struct ifreq &ifr) { return ::ioctl(fd, request, &ifr) == 0; }

// inet_ntoa of the IPv4 address the kernel put into ifr_addr; at most 15 characters.
void write_dotted_quad(const struct sockaddr &sa, char *out) {
  struct sockaddr_in sin;
  std::memcpy(&sin, &sa, sizeof sin);
  const char *text = ::inet_ntoa(sin.sin_addr);
  std::memcpy(out, text, std::strlen(text) + 1);
}

void write_mac(const struct sockaddr &hw, char *out) {
  const auto *b = reinterpret_cast<const unsigned char *>(hw.sa_data);
  std::snprintf(out, BRIM_MAC_TEXT_SIZE, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
}

void wan_if_name(char (&name)[32]) {
  *name = '\0';  // what a failed store read leaves
  getWanIfName(name);
}

}  // namespace

extern "C" {

int getInAddr(const char *ifname, int which, void *result) {
  if (result == nullptr) return 0;
  struct ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  if (!set_name(ifr, ifname)) return 0;
  brim::unique_fd fd = open_query_socket();
  if (!fd) return 0;
  // Existence test only: an interface that is down still answers.
  if (!query(fd.get(), SIOCGIFFLAGS, ifr)) return 0;
  switch (which) {
    case IFADDR_HWADDR:
      if (!query(fd.get(), SIOCGIFHWADDR, ifr)) return 0;
      std::memcpy(result, &ifr.ifr_hwaddr, sizeof ifr.ifr_hwaddr);
      return 1;
    case IFADDR_IP:
      if (!query(fd.get(), SIOCGIFADDR, ifr)) return 0;
      write_dotted_quad(ifr.ifr_addr, static_cast<char *>(result));
      return 1;
    case IFADDR_NETMASK:
      if (!query(fd.get(), SIOCGIFNETMASK, ifr)) return 0;
      write_dotted_quad(ifr.ifr_netmask, static_cast<char *>(result));
      return 1;
    default:
      return 0;
  }
}

int getIfIp(const char *ifname, char *ip) {
  if (ip == nullptr) return -1;
  struct ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  if (!set_name(ifr, ifname)) return -1;
  brim::unique_fd fd = open_query_socket();
  if (!fd || !query(fd.get(), SIOCGIFADDR, ifr)) return -1;
  write_dotted_quad(ifr.ifr_addr, ip);
  return 0;
}

int getIfMac(const char *ifname, char *mac) {
  if (mac == nullptr) return -1;
  struct ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  if (!set_name(ifr, ifname)) return -1;
  brim::unique_fd fd = open_query_socket();
  if (!fd || !query(fd.get(), SIOCGIFHWADDR, ifr)) return -1;
  write_mac(ifr.ifr_hwaddr, mac);
  return 0;
}

const char *getWanIp(void) {
  char name[32];
  wan_if_name(name);
  return getInAddr(name, IFADDR_IP, g_wan_ip) ? g_wan_ip : kNoAddress;
}

const char *getWanNetmask(void) {
  char name[32];
  wan_if_name(name);
  return getInAddr(name, IFADDR_NETMASK, g_wan_netmask) ? g_wan_netmask : kNoAddress;
}

const char *getWanMac(void) {
  char name[32];
  wan_if_name(name);
  // A PPP link has no hardware address; the wired WAN port's stands for it.
  const char *ifname = std::strcmp(name, "ppp0") == 0 ? "eth1" : name;
  return getIfMac(ifname, g_wan_mac) == 0 ? g_wan_mac : kNoMac;
}

const char *getLanMac(void) { return getIfMac("br0", g_lan_mac) == 0 ? g_lan_mac : nullptr; }

}  // extern "C"
