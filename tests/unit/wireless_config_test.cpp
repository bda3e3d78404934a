// Wireless interface selection and the per-interface security readers, against the store
// stand-in loaded from a real file.

#include "brimlib/config/item_ids.h"
#include "tests/support/store_file.h"
#include "tests/unit/unit.h"

namespace {

// Store lines "<ifname>.WLAN_<item>" for each item given.
std::string items(const char *ifname, std::initializer_list<const char *> list) {
  std::string out;
  for (const char *i : list) out += std::string(ifname) + ".WLAN_" + i + "\n";
  return out;
}

class WirelessStore : public ::testing::Test {
 protected:
  void SetUp() override { wlan_idx = vwlan_idx = 0; }
  void TearDown() override { wlan_idx = vwlan_idx = 0; }
  void load(const std::string &text) { ASSERT_TRUE(store_.load(text)); }
  brim_test::StoreFile store_;
};

TEST(SetWlanIdx, NamesSelectRadioAndSlotAndBadNumbersAreRefused) {
  const std::string bad_radio = "0 1/3 invalid wlan interface index number!\n", bad_slot = " invalid virtual wlan interface index number!\n";
  // Name -> result, radio/slot and what was printed, starting from radio 1, slot 3.
  const std::pair<const char *, std::string> cases[] = {
      {"wlan0", "1 0/0 "}, {"wlan1-va0", "1 1/1 "}, {"wlan0-va1", "1 0/2 "}, {"wlan0-vxd", "1 0/5 "}, {"wlan1-vxd", "1 1/5 "},
      {"wlan1-va4", "1 1/5 "},  // -va4 shares the repeater's slot
      {"wlan0-va", "1 0/0 "},   // too short for a number
      {"wlan0-xyz", "1 0/0 "}, {"wlan1_va2", "1 1/0 "}, {"wlanX", "1 0/0 "}, {"wlan", "1 0/0 "},
      {"eth11", "1 1/0 "},  // the prefix is not examined
      // A bad radio changes nothing, however long its number; a bad virtual number leaves the radio's root selected.
      {"wlan2", bad_radio}, {"wlan-1", bad_radio}, {"wlan2-va0", bad_radio}, {"wlan99999999999999", bad_radio}, {"wla", bad_radio},
      {"", bad_radio}, {nullptr, bad_radio}, {"wlan0-va5", "0 0/0" + bad_slot}, {"wlan1-va-1", "0 1/0" + bad_slot},
      {"wlan0-va99999999999", "0 0/0" + bad_slot},
  };
  for (const auto &[name, want] : cases) {
    wlan_idx = 1, vwlan_idx = 3;
    int rc = 0;
    std::string out = unit::out_of([&] { rc = SetWlan_idx(name); });
    EXPECT_EQ(std::to_string(rc) + " " + std::to_string(wlan_idx) + "/" + std::to_string(vwlan_idx) + " " + out, want)
        << (name ? name : "(null)");
  }
  wlan_idx = vwlan_idx = 0;
}

TEST_F(WirelessStore, SelectionDecidesWhichInterfaceTheStoreReads) {
  load("wlan0.WLAN_DISABLED = 0\nwlan0-va1.WLAN_DISABLED = 1\nwlan1-vxd.WLAN_DISABLED = 1\nwlan1.WLAN_DISABLED = 0\n"
       "wlan0-vxd.WLAN_BAND = 13\n");
  for (auto [name, off] : {std::pair{"wlan0", 0}, {"wlan0-va1", 1}, {"wlan1", 0}, {"wlan1-vxd", 1}, {"wlan7", 1}})
    unit::out_of([&] { EXPECT_EQ(getWirelessOnOff(name), off) << name; });  // wlan7 is rejected: wlan1-vxd is still selected
  EXPECT_EQ(wlan_idx * 10 + vwlan_idx, 15);
  int32_t band = 0;
  SetWlan_idx("wlan0-va4");
  apmib_get(MIB_WLAN_BAND, &band);
  EXPECT_EQ(band, 13);
}

TEST_F(WirelessStore, BandToModeNumber) {
  for (auto [band, mode] : {std::pair{1, 1}, {2, 4}, {3, 0}, {4, 2}, {8, 6}, {12, 8}, {64, 14}, {68, 14}, {72, 14}, {76, 14},
                            {75, 75}, {0, 9}, {11, 9}, {77, 9}, {-1, 9}}) {
    load("wlan1-va2.WLAN_BAND = " + std::to_string(band) + "\nwlan0.WLAN_BAND = 1\n");
    EXPECT_EQ(getWirelessMode("wlan1-va2"), mode) << "band " << band;
  }
  EXPECT_EQ(getWirelessMode("wlan0"), 1);
}

TEST_F(WirelessStore, KeyTextForWpaAndWep) {
  const std::string longest(64, 'k');
  load(items("wlan0", {"ENCRYPT = 4", "WPA_PSK = \"root passphrase\""}) + items("wlan0-va1", {"ENCRYPT = 2", "WPA_PSK = \"guest\""}) +
       items("wlan1-vxd", {"ENCRYPT = 6"}) + "wlan1-vxd.WLAN_WPA_PSK = \"" + longest + "\"\n" +
       "wlan1.WLAN_ENCRYPT = 2\n!wlan1.WLAN_WPA_PSK\nwlan1-va0.WLAN_ENCRYPT = 3\n" +
       // WEP: hex digits (format 1) or text up to its first zero byte.
       items("wlan0-va2", {"ENCRYPT = 1", "WEP = 1", "WEP_KEY_TYPE = 1", "WEP64_KEY1 = DEADbeef01"}) +
       items("wlan1-va1", {"ENCRYPT = 1", "WEP = 2", "WEP_KEY_TYPE = 1", "WEP_DEFAULT_KEY = 3", "WEP128_KEY4 = 00112233445566778899AABBCC"}) +
       items("wlan0-va0", {"ENCRYPT = 1", "WEP = 2", "WEP_KEY_TYPE = 0", "WEP_DEFAULT_KEY = 1", "WEP128_KEY2 = 41424300444546474849505152"}) +
       items("wlan0-va3", {"ENCRYPT = 1", "WEP = 2", "WEP_KEY_TYPE = 2", "WEP128_KEY1 = 4142434445464748494a4b4c4d"}) +
       // Outside the tables: an unknown key length; a key index that does not exist (zero bytes).
       items("wlan1-va2", {"ENCRYPT = 1", "WEP = 3", "WEP_KEY_TYPE = 1", "WEP64_KEY1 = 1111111111"}) +
       items("wlan1-va3", {"ENCRYPT = 1", "WEP = 1", "WEP_KEY_TYPE = 1", "WEP_DEFAULT_KEY = 4", "WEP64_KEY1 = 1111111111"}));
  char *key = getWirelessKey("wlan0");
  EXPECT_STREQ(key, "root passphrase");
  EXPECT_EQ(getWirelessKey("wlan1"), key);  // the same static buffer, overwritten
  EXPECT_STREQ(key, "");                    // an unreadable key does not show the previous one
  for (const auto &[name, text] : {std::pair<const char *, std::string>{"wlan0-va1", "guest"},
                                   {"wlan1-vxd", longest},  // the longest passphrase, whole
                                   {"wlan1-va0", ""},       // no key without WEP or WPA
                                   {"wlan0-va2", "deadbeef01"},
                                   {"wlan1-va1", "00112233445566778899aabbcc"},  // 26 digits and the terminator fit the text buffer
                                   {"wlan0-va0", "ABC"},                         // up to the zero byte
                                   {"wlan0-va3", "ABCDEFGHIJKLM"},               // all 13 bytes
                                   {"wlan1-va2", ""}, {"wlan1-va3", "0000000000"}})
    EXPECT_EQ(getWirelessKey(name), text) << name;
}

TEST_F(WirelessStore, TokensForEachEncryptionMode) {
  load("wlan0.WLAN_ENCRYPT = 0\n" + items("wlan0-va0", {"ENCRYPT = 1", "WEP = 1", "AUTH_TYPE = 0"}) +
       items("wlan0-va1", {"ENCRYPT = 1", "WEP = 2", "AUTH_TYPE = 2"}) + items("wlan0-va2", {"ENCRYPT = 2", "WPA_CIPHER_SUITE = 1"}) +
       items("wlan0-va3", {"ENCRYPT = 4", "WPA2_CIPHER_SUITE = 2"}) +
       items("wlan0-vxd", {"ENCRYPT = 6", "WPA_CIPHER_SUITE = 2", "WPA2_CIPHER_SUITE = 2"}) +
       "wlan1.WLAN_ENCRYPT = 3\nwlan1-va0.WLAN_ENCRYPT = 5\n");
  for (auto [name, want] : {std::pair{"wlan0", "NONE/NONE/NONE/NONE"}, {"wlan0-va0", "WEP64/OPEN/OPEN/WEP"},
                            {"wlan0-va1", "WEP128/SHARED/SHARED/WEP"}, {"wlan0-va2", "TKIP/WPAPSK/TKIP/WPAPSK"},
                            {"wlan0-va3", "AES/WPA2PSK/AES/WPA2PSK"}, {"wlan0-vxd", "AES/WPAPSKWPA2PSK/AES/WPAPSKWPA2PSK"},
                            {"wlan1", "NONE/NONE/NONE/NONE"}, {"wlan1-va0", "NONE/NONE/NONE/NONE"}})
    EXPECT_EQ(std::string(getEncrypType(name)) + "/" + getAuthMode(name) + "/" + getRptEncrypType(name) + "/" + getRptAuthMode(name), want)
        << name;
  EXPECT_EQ(wlan_idx * 10 + vwlan_idx, 11);  // the readers leave their selection in place
}

TEST_F(WirelessStore, CipherRulesDifferBetweenWpaWpa2AndMixed) {
  // WPA: anything but TKIP is AES; WPA2: anything but TKIP or AES is both.
  for (auto [mode, wpa, wpa2, want] : {std::tuple{2, 3, 1, "AES"}, {4, 1, 3, "TKIPAES"}, {2, 1, 2, "TKIP"}, {4, 2, 1, "TKIP"},
                                       {4, 1, 2, "AES"}, {6, 1, 1, "TKIP"}, {6, 1, 2, "TKIPAES"}, {6, 3, 3, "TKIPAES"}}) {
    load("wlan1-vxd.WLAN_ENCRYPT = " + std::to_string(mode) + "\nwlan1-vxd.WLAN_WPA_CIPHER_SUITE = " + std::to_string(wpa) +
         "\nwlan1-vxd.WLAN_WPA2_CIPHER_SUITE = " + std::to_string(wpa2) + "\n");
    EXPECT_EQ(std::string(getEncrypType("wlan1-vxd")) + "/" + getRptEncrypType("wlan1-vxd"), std::string(want) + "/" + want)
        << mode << " " << wpa << "/" << wpa2;
  }
}

}  // namespace
