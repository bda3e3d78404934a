// Per-interface wireless readers: on/off, band mode, key text and the encryption and
// authentication tokens, in the access point and repeater vocabularies. Each selects the named
// interface first (a rejected name leaves the previous selection in force) and does not restore
// the selection afterwards.
#include <cstring>

#include "brimlib.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

namespace {

template <size_t N>
char *put_token(char (&buf)[N], const char *token) {
  size_t n = ::strnlen(token, N - 1);
  std::memcpy(buf, token, n);
  buf[n] = '\0';
  return buf;
}

constexpr int32_t kEncryptWep = 1, kEncryptWpa = 2, kEncryptWpa2 = 4, kEncryptMixed = 6;

const char *wpa_cipher() { return brim::read_int(MIB_WLAN_WPA_CIPHER_SUITE) == 1 ? "TKIP" : "AES"; }

const char *wpa2_cipher() {
  switch (brim::read_int(MIB_WLAN_WPA2_CIPHER_SUITE)) {
    case 1: return "TKIP";
    case 2: return "AES";
    default: return "TKIPAES";
  }
}

const char *mixed_cipher() {
  int32_t wpa = brim::read_int(MIB_WLAN_WPA_CIPHER_SUITE);
  int32_t wpa2 = brim::read_int(MIB_WLAN_WPA2_CIPHER_SUITE);
  if (wpa == 1 && wpa2 == 1) return "TKIP";
  if (wpa == 2 && wpa2 == 2) return "AES";
  return "TKIPAES";
}

// The cipher token of a WPA mode, or nullptr for the modes without one.
const char *wpa_family_cipher(int32_t mode) {
  switch (mode) {
    case kEncryptWpa: return wpa_cipher();
    case kEncryptWpa2: return wpa2_cipher();
    case kEncryptMixed: return mixed_cipher();
    default: return nullptr;
  }
}

const char *wpa_family_auth(int32_t mode) {
  switch (mode) {
    case kEncryptWpa: return "WPAPSK";
    case kEncryptWpa2: return "WPA2PSK";
    case kEncryptMixed: return "WPAPSKWPA2PSK";
    default: return nullptr;
  }
}

const char *wep_auth_token() { return brim::read_int(MIB_WLAN_AUTH_TYPE) == 0 ? "OPEN" : "SHARED"; }

// WEP key of the default index as text: hex digits of the raw bytes, or the bytes themselves up
// to the first zero byte. `text` holds the longest form, 26 digits and the terminator.
void wep_key_text(char (&text)[27]) {
  unsigned char raw[32] = {};
  std::memset(text, 0, sizeof text);
  int32_t length = brim::read_int(MIB_WLAN_WEP);
  int32_t format = brim::read_int(MIB_WLAN_WEP_KEY_TYPE);
  int32_t index = brim::read_int(MIB_WLAN_WEP_DEFAULT_KEY);
  int first_item;
  int key_bytes;
  if (length == 1) {
    first_item = MIB_WLAN_WEP64_KEY1;
    key_bytes = 5;
  } else if (length == 2) {
    first_item = MIB_WLAN_WEP128_KEY1;
    key_bytes = 13;
  } else {
    return;
  }
  if (index >= 0 && index <= 3) brim::read_item(first_item + index, raw, sizeof raw);
  if (format == 1) {
    convert_bin_to_str(raw, key_bytes, text);
  } else {
    size_t n = ::strnlen(reinterpret_cast<const char *>(raw), static_cast<size_t>(key_bytes));
    std::memcpy(text, raw, n);
  }
}

}  // namespace

extern "C" {

int getWirelessOnOff(const char *ifname) {
  SetWlan_idx(ifname);
  return brim::read_int(MIB_WLAN_WLAN_DISABLED);
}

int getWirelessMode(const char *ifname) {
  SetWlan_idx(ifname);
  switch (int32_t band = brim::read_int(MIB_WLAN_BAND)) {
    case 1: return 1;
    case 2: return 4;
    case 3: return 0;
    case 4: return 2;
    case 8: return 6;
    case 12: return 8;
    case 64: case 68: case 72: case 76: return 14;
    case 75: return band;
    default: return 9;
  }
}

char *getWirelessKey(const char *ifname) {
  static char key[100];
  SetWlan_idx(ifname);
  switch (brim::read_int(MIB_WLAN_ENCRYPT)) {
    case kEncryptWpa:
    case kEncryptWpa2:
    case kEncryptMixed: {
      // A failed read gives "" rather than the previous key.
      char psk[sizeof key] = {};
      brim::read_text(MIB_WLAN_WPA_PSK, psk, sizeof psk);
      return put_token(key, psk);
    }
    case kEncryptWep: {
      char text[27];
      wep_key_text(text);
      return put_token(key, text);
    }
    default:
      return put_token(key, "");
  }
}

char *getEncrypType(const char *ifname) {
  static char token[8];
  SetWlan_idx(ifname);
  int32_t mode = brim::read_int(MIB_WLAN_ENCRYPT);
  if (mode == kEncryptWep) return put_token(token, brim::read_int(MIB_WLAN_WEP) == 1 ? "WEP64" : "WEP128");
  const char *cipher = wpa_family_cipher(mode);
  return put_token(token, cipher ? cipher : "NONE");
}

char *getAuthMode(const char *ifname) {
  static char token[16];
  SetWlan_idx(ifname);
  int32_t mode = brim::read_int(MIB_WLAN_ENCRYPT);
  if (mode == kEncryptWep) return put_token(token, wep_auth_token());
  const char *auth = wpa_family_auth(mode);
  return put_token(token, auth ? auth : "NONE");
}

char *getRptEncrypType(const char *ifname) {
  static char token[8];
  SetWlan_idx(ifname);
  int32_t mode = brim::read_int(MIB_WLAN_ENCRYPT);
  if (mode == kEncryptWep) return put_token(token, wep_auth_token());
  const char *cipher = wpa_family_cipher(mode);
  return put_token(token, cipher ? cipher : "NONE");
}

char *getRptAuthMode(const char *ifname) {
  static char token[16];
  SetWlan_idx(ifname);
  int32_t mode = brim::read_int(MIB_WLAN_ENCRYPT);
  if (mode == kEncryptWep) return put_token(token, "WEP");
  const char *auth = wpa_family_auth(mode);
  return put_token(token, auth ? auth : "NONE");
}

}  // extern "C"
