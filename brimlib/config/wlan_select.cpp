// Wireless interface selection: the interface name sets wlan_idx/vwlan_idx, which the store
// resolves every wireless item against.
#include "brimlib/config/wlan_select.h"

#include <cstdio>
#include <cstring>

#include "brimlib.h"

namespace brim {
namespace {

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi without its undefined overflow: the value saturates, which every caller rejects anyway.
int32_t leading_int(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > INT32_MAX) v = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

WlanNameResult parse_wlan_name(std::string_view name, WlanSelection &out) {
  if (name.size() < 4) return WlanNameResult::BadRadio;
  int32_t radio = leading_int(name.substr(4));
  if (radio < 0 || radio >= 2) return WlanNameResult::BadRadio;
  out.radio = radio;
  out.slot = 0;
  if (name.size() < 9 || name[5] != '-') return WlanNameResult::Selected;
  if (name[6] == 'v' && name[7] == 'a') {
    int32_t va = leading_int(name.substr(8));
    if (va < 0 || va >= 5) return WlanNameResult::BadVirtual;
    out.slot = va + 1;
  } else if (name.substr(6, 3) == "vxd") {
    out.slot = 5;
  }
  return WlanNameResult::Selected;
}

}  // namespace brim

extern "C" int SetWlan_idx(const char *name) {
  std::string_view n = name ? std::string_view(name) : std::string_view();
  brim::WlanSelection sel{wlan_idx, vwlan_idx};
  switch (brim::parse_wlan_name(n, sel)) {
    case brim::WlanNameResult::BadRadio:
      std::printf("invalid wlan interface index number!\n");
      return 0;
    case brim::WlanNameResult::BadVirtual:
      wlan_idx = sel.radio;
      vwlan_idx = sel.slot;
      std::printf("invalid virtual wlan interface index number!\n");
      return 0;
    case brim::WlanNameResult::Selected:
      break;
  }
  wlan_idx = sel.radio;
  vwlan_idx = sel.slot;
  return 1;
}
