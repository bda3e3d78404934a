// Item ids of the configuration store that the library reads or writes (the store is the vendor's).
#pragma once

enum brim_mib_id : int {
  MIB_WLAN_WEP = 3,              // WEP key length: 1 = 64-bit, 2 = 128-bit
  MIB_WLAN_WEP64_KEY1 = 4,       // ..7: 5 raw bytes each
  MIB_WLAN_WEP128_KEY1 = 8,      // ..11: 13 raw bytes each
  MIB_WLAN_WEP_KEY_TYPE = 12,    // 1 = hexadecimal
  MIB_WLAN_WEP_DEFAULT_KEY = 13, // 0..3
  MIB_WLAN_AUTH_TYPE = 20,       // 0 open system, other shared key
  MIB_WLAN_WLAN_DISABLED = 22,
  MIB_WLAN_ENCRYPT = 25,         // 0 none, 1 WEP, 2 WPA, 4 WPA2, 6 mixed
  MIB_WLAN_WPA_CIPHER_SUITE = 29,
  MIB_WLAN_WPA_PSK = 30,
  MIB_WLAN_WPA2_CIPHER_SUITE = 38,
  MIB_WLAN_BAND = 74,
  MIB_WAN_DEFAULT_GATEWAY = 103,
  MIB_WAN_DHCP = 104,            // WAN connection type
  MIB_IP_ADDR = 170,             // LAN address
  MIB_SUBNET_MASK = 171,         // LAN netmask
  MIB_DHCP = 173,
  MIB_OP_MODE = 192,
  MIB_WISP_WAN_ID = 193,
  MIB_HOST_NAME = 198,
  MIB_REPEATER_ENABLED1 = 250,
  MIB_REPEATER_ENABLED2 = 252,
  MIB_WLAN_WSC_CONFIGURED = 272,
  MIB_WLAN_WSC_AUTH = 274,
  MIB_WLAN_WSC_ENC = 275,
  MIB_WLAN_WSC_PSK = 277,
  MIB_WLAN_WSC_SSID = 278,
  MIB_WLAN_WSC_CONFIGBYEXTREG = 281,
  MIB_WEB_LANGUAGE = 6002,
  MIB_WAN_LINK_MARK = 7008,
  MIB_TELNET_ENABLED = 18051,
  MIB_SUPER_PASSWORD = 18067,
};
