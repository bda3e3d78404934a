// Interface name to radio/slot selection, pure and through SetWlan_idx: a selection is always a
// radio and a slot the store can address, and a refused name changes nothing.
#include "brimlib.h"
#include "brimlib/config/wlan_select.h"
#include "fuzz/fuzz_input.h"

BRIM_FUZZ_TARGET {
  using R = brim::WlanNameResult;
  std::string_view in = brim_fuzz::view(data, size);
  brim::WlanSelection sel{7, 7};
  R res = brim::parse_wlan_name(in, sel);
  brim_fuzz::require((res != R::BadRadio || (sel.radio == 7 && sel.slot == 7)) && (res != R::BadVirtual || sel.slot == 0) &&
                     (res != R::Selected || (sel.slot >= 0 && sel.slot <= 5)));
  auto name = brim_fuzz::c_string(in);
  wlan_idx = 1, vwlan_idx = 2;
  brim_fuzz::require(SetWlan_idx(name.get()) != 1 || (vwlan_idx >= 0 && vwlan_idx <= 5));
  return 0;
}
