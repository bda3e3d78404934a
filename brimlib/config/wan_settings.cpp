// Operation mode and WAN settings: small readers over items 104, 173, 192 and 193. Every call
// reads the store afresh; nothing is cached or written back.
#include <cstdio>
#include <cstring>

#include "brimlib.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

namespace {

// The text of a WAN connection type, or null for a value that has none.
const char *wan_type_text(int type) {
  switch (type) {
    case WAN_STATIC: return "STATIC";
    case WAN_DHCP: return "DHCP";
    case WAN_PPPOE: return "PPPOE";
    case WAN_PPTP: return "PPTP";
    case WAN_L2TP: return "L2TP";
    case WAN_3G: return "3G";
    default: return nullptr;
  }
}

bool carried_over_ppp(int type) {
  return type == WAN_PPPOE || type == WAN_PPTP || type == WAN_L2TP || type == WAN_3G;
}

}  // namespace

extern "C" {

int getOperationMode(void) { return brim::read_int(MIB_OP_MODE); }

int getDhcp(void) { return brim::read_int(MIB_DHCP); }

void getWanConnectMode(char *buf) {
  if (buf == nullptr) return;
  const char *text = wan_type_text(brim::read_int(MIB_WAN_DHCP));
  if (text != nullptr) std::memcpy(buf, text, std::strlen(text) + 1);
}

void getWanIfName(char *name) {
  if (name == nullptr) return;
  int32_t type = 0, mode = 0, wisp = 0;
  // Each failed read leaves the caller's (zeroed) buffer as it was: "no WAN interface known".
  if (!brim::read_item(MIB_WAN_DHCP, &type, sizeof type)) return;
  if (!brim::read_item(MIB_OP_MODE, &mode, sizeof mode)) return;
  if (!brim::read_item(MIB_WISP_WAN_ID, &wisp, sizeof wisp)) return;
  // A PPP link carries the WAN whatever the mode, so it is tested first.
  if (carried_over_ppp(type)) {
    std::memcpy(name, "ppp0", 5);
  } else if (mode == OPMODE_WIRELESS_WAN) {
    // "wlan" + an int32 with sign + "-vxd" fits.
    std::snprintf(name, BRIM_WAN_IFNAME_SIZE, "wlan%d-vxd", static_cast<int>(wisp));
  } else {
    std::memcpy(name, "eth1", 5);
  }
}

}  // extern "C"
