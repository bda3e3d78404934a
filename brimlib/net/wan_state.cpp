// Whether the WAN connection is up, and for how long: the wired port's link from the Ethernet
// driver, the repeater's association from the wireless driver, and the traces the PPP and DHCP
// clients leave behind. Nothing is cached; every call asks again.
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "brimlib.h"
#include "brimlib/common/leading_int.h"
#include "brimlib/common/unique_fd.h"
#include "brimlib/net/system_facts.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

// The driver reads exactly four pointer-width words.
static_assert(sizeof(DevPrivateArgs) == 4 * sizeof(void *) && offsetof(DevPrivateArgs, link_state) == 3 * sizeof(void *));
static_assert(sizeof(uintptr_t) == sizeof(void *));

namespace {

constexpr const char kWanPort[] = "eth1";
constexpr const char kPppMarker[] = "/etc/ppp/link";
constexpr const char kWanConnectTime[] = "/var/wanconnect";
constexpr const char kRepeater0[] = "wlan0-vxd";
constexpr const char kRepeater1[] = "wlan1-vxd";
constexpr unsigned long kDevPrivate = 0x89F0;  // SIOCDEVPRIVATE

// The connection table shared by both tests, once the link is known.
int connected_by_type(int wan_type, bool link) {
  switch (wan_type) {
    case WAN_STATIC:
      return link ? 1 : 0;
    case WAN_DHCP:
      return isDhcpClientExist() == 1 && link ? 1 : 0;
    case WAN_PPPOE:
    case WAN_PPTP:
    case WAN_L2TP:
      return isConnectPPP() == 1 && link ? 1 : 0;
    default:  // 3G and unknown types are never reported up here
      return 0;
  }
}

bool wired_link() { return get_wan_link_status(kWanPort) >= 0; }

const char *repeater_of(int wisp) { return wisp == 0 ? kRepeater0 : kRepeater1; }

}  // namespace

extern "C" {

int isConnectPPP(void) {
  struct stat st;
  return ::stat(kPppMarker, &st) == 0 ? 1 : 0;
}

int isDhcpClientExist(void) {
  char name[32];
  std::memset(name, 0, sizeof name);
  getWanIfName(name);
  char scratch[16];
  if (getInAddr(name, IFADDR_IP, scratch) == 0) return 0;
  char path[100];
  std::snprintf(path, sizeof path, "%s/%s-%s.pid", "/etc/udhcpc", "udhcpc", name);
  return getPid(path) > 0 ? 1 : 0;
}

int get_wan_link_status(const char *ifname) {
  // Stays "no link" unless the driver writes it.
  int32_t link_state = -1;
  DevPrivateArgs args;
  args.cmd = ETH_CMD_GET_WAN_LINK;
  args.self = reinterpret_cast<uintptr_t>(&args);
  args.zero = 0;
  args.link_state = reinterpret_cast<uintptr_t>(&link_state);

  // A name that does not fit is refused, never cut into another interface's name.
  if (ifname == nullptr || ::strnlen(ifname, IFNAMSIZ) >= IFNAMSIZ) return -1;

  brim::unique_fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) {
    std::perror("fatal error socket\n");
    return -1;
  }
  struct ifreq ifr;
  std::memset(&ifr, 0, sizeof ifr);
  std::memcpy(ifr.ifr_name, ifname, std::strlen(ifname));
  ifr.ifr_data = reinterpret_cast<char *>(&args);
  if (::ioctl(fd.get(), kDevPrivate, &ifr) < 0) {
    std::perror("device ioctl:");
    return -1;
  }
  return link_state;
}

int checkEthStatus(void) {
  int mode = brim::read_int(MIB_OP_MODE, 0);
  int wan_type = brim::read_int(MIB_WAN_DHCP, 2);
  if (mode != OPMODE_GATEWAY) return isDhcpClientExist() == 1 ? 1 : 0;
  bool link = wired_link();  // asked first, whatever the type then says
  return connected_by_type(wan_type, link);
}

int checkWanStatus(void) {
  int mode = brim::read_int(MIB_OP_MODE, 0);
  int wan_type = brim::read_int(MIB_WAN_DHCP, 2);
  bool link;
  if (mode == OPMODE_GATEWAY) {
    link = wired_link();
  } else if (mode == OPMODE_WIRELESS_WAN) {
    link = getRepeaterStatus(repeater_of(brim::read_int(MIB_WISP_WAN_ID, 0))) == 1;
  } else {
    return 0;
  }
  return connected_by_type(wan_type, link);
}

void getWanLinktime(char *buf) {
  if (buf == nullptr) return;
  int mode = brim::read_int(MIB_OP_MODE, 0);
  bool up = false;
  if (mode == OPMODE_GATEWAY) {
    up = get_wan_link_status(kWanPort) == 0;
  } else if (mode == OPMODE_WIRELESS_WAN) {
    // Both radios are tried: the time counts from whichever repeater carries the WAN.
    up = getRepeaterStatus(kRepeater0) == 1 || getRepeaterStatus(kRepeater1) == 1;
  }
  if (!up) {
    std::memcpy(buf, "0;0;0;0", 8);
    return;
  }
  brim::unique_file f(std::fopen(kWanConnectTime, "re"));
  if (!f) {
    std::printf("open file error\n");
    return;
  }
  char text[32];
  size_t n = std::fread(text, 1, sizeof text - 1, f.get());
  auto seconds = static_cast<uint32_t>(brim::leading_int(std::string_view(text, n)));
  // Whole days lead, as in the uptime text: 86400 s reads 1;0;0;0. Callers' buffers hold 11
  // bytes, so from 10 days on the text stays at the longest that fits, never past it.
  constexpr uint32_t kLongestShown = 10 * 86400 - 1;
  brim::format_uptime(seconds < kLongestShown ? seconds : kLongestShown, buf, BRIM_WAN_LINKTIME_SIZE);
}

void get_wan_connect_status(char *buf) {
  if (buf == nullptr) return;
  const char *text = checkWanStatus() == 1 ? "connected" : "disconnected";
  std::memcpy(buf, text, std::strlen(text) + 1);
}

}  // extern "C"
