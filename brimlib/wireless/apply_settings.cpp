// takeEffectWlan: make the stored settings of one wireless interface live without a reboot, by
// the firmware's own tools (flash, ifconfig, sysconf, route, killall) in a fixed order.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "brimlib.h"
#include "brimlib/common/ifname.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

namespace {

using Line = char[128];

// Formats a command line; false when it would not fit (it is then not run rather than run cut).
__attribute__((format(printf, 2, 0))) bool format_line(Line &line, const char *fmt, va_list ap) {
  int n = std::vsnprintf(line, sizeof line, fmt, ap);
  return n >= 0 && static_cast<size_t>(n) < sizeof line;
}

// Runs a command line through the firmware's runner, tracing off. Every argument is a plain
// interface name (or a radio name or dotted quad made from one), so nothing needs quoting.
__attribute__((format(printf, 1, 2))) void run(const char *fmt, ...) {
  Line line;
  va_list ap;
  va_start(ap, fmt);
  bool ok = format_line(line, fmt, ap);
  va_end(ap);
  if (ok) BrimSystem(line, 0);
}

// The take-down steps go through the C library's system(), as the firmware does.
__attribute__((format(printf, 1, 2))) void run_system(const char *fmt, ...) {
  Line line;
  va_list ap;
  va_start(ap, fmt);
  bool ok = format_line(line, fmt, ap);
  va_end(ap);
  if (ok) (void)std::system(line);
}

// "%s-vaN" of the radio when that virtual access point is enabled (item 22 is 0), else "".
void enabled_vap(const char *radio, int n, char (&out)[16]) {
  char vap[16];
  std::snprintf(vap, sizeof vap, "%s-va%d", radio, n);
  SetWlan_idx(vap);
  if (brim::read_int(MIB_WLAN_WLAN_DISABLED) == 0)
    std::memcpy(out, vap, sizeof out);
  else
    out[0] = '\0';
}

// The wireless members of the LAN bridge. In wireless-WAN mode the repeater interface that
// carries the WAN stays out; the other radio's repeater interface is in.
void bridge_list(int32_t op_mode, int32_t wan_radio, const char *radio, const char *vap0, const char *vap1,
                 char (&out)[128]) {
  if (op_mode != OPMODE_WIRELESS_WAN) {
    std::snprintf(out, sizeof out, "%s %s %s %s-vxd", radio, vap0, vap1, radio);
    return;
  }
  bool radio0 = std::string_view(radio) == "wlan0";
  const char *list;
  if (wan_radio == 1)
    list = radio0 ? "wlan0 wlan0-va0 wlan0-va1 wlan0-vxd" : "wlan1 wlan1-va0 wlan1-va1";
  else
    list = radio0 ? "wlan0 wlan0-va0 wlan0-va1" : "wlan1 wlan1-va0 wlan1-va1 wlan1-vxd";
  std::snprintf(out, sizeof out, "%s", list);
}

// Wireless-WAN repair: a fixed gateway goes back on the repeater interface of the radio just
// cycled (if that radio carries the WAN); a DHCP client is told to renew its lease.
void repair_wireless_wan(int32_t wan_type, int32_t wan_radio, std::string_view radio) {
  if (wan_type == WAN_STATIC) {
    uint32_t gw = 0;
    brim::read_item(MIB_WAN_DEFAULT_GATEWAY, &gw, sizeof gw);
    if (gw == 0) return;
    struct in_addr a;
    a.s_addr = gw;
    char gw_text[32];
    std::snprintf(gw_text, sizeof gw_text, "%s", ::inet_ntoa(a));
    const char *dev = nullptr;
    if (wan_radio == 1 && radio == "wlan1")
      dev = "wlan1-vxd";
    else if (wan_radio != 1 && radio == "wlan0")
      dev = "wlan0-vxd";
    if (dev == nullptr) return;
    run("route del start default %s", dev);
    run("route add -net default gw %s dev %s\n", gw_text, dev);
  } else if (wan_type == WAN_DHCP) {
    run("killall -SIGUSR1 udhcpc");
  }
}

}  // namespace

extern "C" void takeEffectWlan(const char *name, int restart) {
  if (!brim::is_plain_ifname(name)) return;  // never on a command line, never selected

  int32_t op_mode = brim::read_int(MIB_OP_MODE);
  int32_t wan_type = brim::read_int(MIB_WAN_DHCP);

  // Reload and cycle: a virtual interface goes down before its radio and up after it.
  char radio[6];
  std::snprintf(radio, sizeof radio, "%s", name);
  if (std::strlen(name) >= 6) {
    run("ifconfig %s down;ifconfig %s down", name, radio);
    run("flash set_mib %s;flash set_mib %s", radio, name);
    run("ifconfig %s up;ifconfig %s up", radio, name);
  } else {
    run("flash set_mib %s;ifconfig %s down;ifconfig %s up", name, name, name);
  }

  char vap0[16];
  char vap1[16];
  enabled_vap(radio, 0, vap0);
  enabled_vap(radio, 1, vap1);

  if (restart) {
    int32_t wan_radio = op_mode == OPMODE_WIRELESS_WAN ? brim::read_int(MIB_WISP_WAN_ID) : 0;
    char list[128];
    bridge_list(op_mode, wan_radio, radio, vap0, vap1, list);
    std::printf("=br_if=[%s]=\n", list);
    std::fflush(stdout);  // before the children write to the same stream

    run("sysconf wlan_set %s& \n", list);
    run("sysconf wlanapp start wlan0 wlan1 br0&");
    ::sleep(1);
    run("sysconf upnpd 1 1");
    ::sleep(1);

    if (op_mode == OPMODE_WIRELESS_WAN) repair_wireless_wan(wan_type, wan_radio, radio);
  }

  // A disabled interface ends down even though it was just brought up.
  SetWlan_idx(name);
  if (brim::read_int(MIB_WLAN_WLAN_DISABLED) == 1) run_system("ifconfig %s up down 2> /dev/null", name);

  std::string_view n(name);
  int repeater_item = n == "wlan0" ? MIB_REPEATER_ENABLED1 : n == "wlan1" ? MIB_REPEATER_ENABLED2 : 0;
  if (repeater_item != 0 && brim::read_int(repeater_item) == 0) run_system("ifconfig %s-vxd down 2> /dev/null", name);
}
