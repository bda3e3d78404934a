// Keeping the WPS items of the selected interface in step with a wireless security change, and
// marking both radios configured on the first change that matters.
#include <cstring>

#include "brimlib.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

extern "C" {
WpsConfigInfo wps_config_info;
WpsConfigInfo wps_config_info_tmp;
}

namespace {

// WPS authentication and encryption type flags.
constexpr int32_t kAuthOpen = 1, kAuthWpaPsk = 2, kAuthShared = 4, kAuthWpa2Psk = 32, kAuthBothPsk = 34;
constexpr int32_t kEncNone = 1, kEncWep = 2, kEncTkip = 4, kEncAes = 8, kEncBoth = 12;

enum ChangeKind : int32_t { kBasic = 1, kWep = 2, kWpa = 3, kWepAuth = 4 };

void set_int(int id, int32_t v) { apmib_set(id, &v); }

// The records are filled by handlers; hand the store a terminated copy even if a text field
// was filled to its last byte.
template <size_t N>
void set_text(int id, const char (&field)[N]) {
  char copy[N + 1];
  std::memcpy(copy, field, N);
  copy[N] = '\0';
  apmib_set(id, copy);
}

template <size_t N>
bool same_text(const char (&a)[N], const char (&b)[N]) {
  return std::strncmp(a, b, N) == 0;
}

int32_t cipher_flags(int32_t cipher) {
  if (cipher == 1) return kEncTkip;
  if (cipher == 2) return kEncAes;
  return kEncBoth;
}

void write_security_types(const WpsConfigInfo &now) {
  int32_t auth, enc;
  switch (now.encryption) {
    case 0:
      auth = kAuthOpen;
      enc = kEncNone;
      break;
    case 1:
      auth = (now.authentication == 0 || now.authentication == 2) ? kAuthOpen : kAuthShared;
      enc = kEncWep;
      break;
    case 2:
      auth = kAuthWpaPsk;
      enc = cipher_flags(now.wpa_cipher);
      break;
    case 4:
      auth = kAuthWpa2Psk;
      enc = cipher_flags(now.wpa2_cipher);
      break;
    default:
      auth = kAuthBothPsk;
      if (now.wpa2_cipher & 2)
        enc = (now.wpa_cipher == 2 && now.wpa2_cipher == 2) ? kEncAes : kEncBoth;
      else
        enc = (now.wpa_cipher & 2) ? kEncAes : kEncTkip;
      break;
  }
  set_int(MIB_WLAN_WSC_AUTH, auth);
  set_int(MIB_WLAN_WSC_ENC, enc);
}

bool wep_unchanged(const WpsConfigInfo &was, const WpsConfigInfo &now) {
  return now.encryption == was.encryption && now.wep_option == was.wep_option &&
         now.wep_key_option == was.wep_key_option &&
         std::memcmp(now.wep64_keys, was.wep64_keys, sizeof now.wep64_keys) == 0 &&
         std::memcmp(now.wep128_keys, was.wep128_keys, sizeof now.wep128_keys) == 0;
}

bool wpa_unchanged(const WpsConfigInfo &was, const WpsConfigInfo &now) {
  return now.encryption == was.encryption && now.wpa_cipher == was.wpa_cipher &&
         now.wpa2_cipher == was.wpa2_cipher && same_text(now.psk, was.psk);
}

// The configuration changed: the selected interface, and then the same slot of the other radio,
// count as configured from now on.
void mark_configured() {
  set_int(MIB_WLAN_WSC_CONFIGBYEXTREG, 0);
  if (brim::read_int(MIB_WLAN_WSC_CONFIGURED) != 0) return;
  set_int(MIB_WLAN_WSC_CONFIGURED, 1);
  const int32_t radio = wlan_idx;
  if (radio != 0 && radio != 1) return;
  wlan_idx = 1 - radio;
  set_int(MIB_WLAN_WSC_CONFIGURED, 1);
  wlan_idx = radio;
}

}  // namespace

extern "C" void update_wps_configured(int clear_flag) {
  const WpsConfigInfo &was = wps_config_info;
  const WpsConfigInfo &now = wps_config_info_tmp;
  switch (was.change_kind) {
    case kBasic:
      if (same_text(now.ssid, was.ssid) && now.basic_mode == was.basic_mode) return;
      set_text(MIB_WLAN_WSC_SSID, now.ssid);
      mark_configured();
      return;
    case kWepAuth: {
      if (now.encryption != 1 || now.authentication == was.authentication) return;
      // Only a move between open-capable (0, 2) and shared-only (1) changes the WPS type.
      const bool now_open = now.authentication == 0 || now.authentication == 2;
      if (now_open ? was.authentication != 1 : (was.authentication != 0 && was.authentication != 2)) return;
      set_int(MIB_WLAN_WSC_AUTH, now_open ? kAuthOpen : kAuthShared);
      mark_configured();
      return;
    }
    default:
      break;
  }
  write_security_types(now);
  if ((now.encryption == 2 || now.encryption == 4 || now.encryption == 6) && (now.authentication & 2))
    set_text(MIB_WLAN_WSC_PSK, now.psk);
  if (clear_flag != 0) set_int(MIB_WLAN_WSC_CONFIGBYEXTREG, 0);
  if (was.change_kind == kWep && !wep_unchanged(was, now)) mark_configured();
  if (was.change_kind == kWpa && !wpa_unchanged(was, now)) mark_configured();
}
