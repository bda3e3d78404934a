// Turning a wireless interface name into the radio/slot selection, without side effects.
#pragma once

#include <cstdint>
#include <string_view>

namespace brim {

enum class WlanNameResult {
  Selected,     // radio and slot are set
  BadRadio,     // nothing may change
  BadVirtual,   // radio is set, slot is the root interface (0)
};

struct WlanSelection {
  int32_t radio = 0;
  int32_t slot = 0;
};

// "wlanR" root interface = slot 0, "wlanR-vaN" (N 0..4) = slot N + 1, "wlanR-vxd" = slot 5, which
// "wlanR-va4" shares. The first four characters are not examined; the radio and virtual numbers
// are read as atoi would (leading blanks, a sign, leading digits; none gives 0).
WlanNameResult parse_wlan_name(std::string_view name, WlanSelection &out);

}  // namespace brim
