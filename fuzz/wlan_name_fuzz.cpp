// Interface name to radio/slot selection, pure and through SetWlan_idx: a selection is always a
// radio and a slot the store can address, and a refused name changes nothing.
#include <cstdlib>

#include "brimlib.h"
#include "brimlib/config/wlan_select.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view in = brim_fuzz::view(data, size);
  brim::WlanSelection sel{7, 7};
  brim::WlanNameResult res = brim::parse_wlan_name(in, sel);
  if (res == brim::WlanNameResult::BadRadio && (sel.radio != 7 || sel.slot != 7)) std::abort();
  if (res == brim::WlanNameResult::BadVirtual && sel.slot != 0) std::abort();
  if (res == brim::WlanNameResult::Selected && (sel.slot < 0 || sel.slot > 5)) std::abort();

  auto name = brim_fuzz::c_string(in);
  wlan_idx = 1;
  vwlan_idx = 2;
  if (SetWlan_idx(name.get()) == 1 && (vwlan_idx < 0 || vwlan_idx > 5)) std::abort();
  return 0;
}
