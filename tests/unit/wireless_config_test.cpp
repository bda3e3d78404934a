// Wireless interface selection and the per-interface security readers, against the store
// stand-in loaded from a real file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "brimlib.h"
#include "platform/apmib/apmib_ids.h"

namespace {

class WirelessStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brim_wlan_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    wlan_idx = vwlan_idx = 0;
  }
  void TearDown() override {
    unlink((dir_ + "/apmib.store").c_str());
    rmdir(dir_.c_str());
    wlan_idx = vwlan_idx = 0;
  }
  void load(const std::string &text) {
    std::string path = dir_ + "/apmib.store";
    FILE *f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    ASSERT_EQ(std::fclose(f), 0);
    setenv("APMIB_STORE", path.c_str(), 1);
    ASSERT_NE(apmib_init(), 0);
  }
  std::string dir_;
};

// rc, radio, slot and what was printed, after selecting `name` from radio 1, slot 3.
std::string select(const char *name) {
  wlan_idx = 1;
  vwlan_idx = 3;
  testing::internal::CaptureStdout();
  int rc = SetWlan_idx(name);
  std::string out = testing::internal::GetCapturedStdout();
  return std::to_string(rc) + " " + std::to_string(wlan_idx) + "/" + std::to_string(vwlan_idx) + " " + out;
}

TEST(SetWlanIdx, NamesSelectRadioAndSlot) {
  EXPECT_EQ(select("wlan0"), "1 0/0 ");
  EXPECT_EQ(select("wlan1-va0"), "1 1/1 ");
  EXPECT_EQ(select("wlan0-va1"), "1 0/2 ");
  EXPECT_EQ(select("wlan0-vxd"), "1 0/5 ");
  EXPECT_EQ(select("wlan1-vxd"), "1 1/5 ");
  EXPECT_EQ(select("wlan1-va4"), "1 1/5 ");  // shares the repeater's slot
  EXPECT_EQ(select("wlan0-va"), "1 0/0 ");   // too short for a number
  EXPECT_EQ(select("wlan0-xyz"), "1 0/0 ");
  EXPECT_EQ(select("wlan1_va2"), "1 1/0 ");
  EXPECT_EQ(select("wlanX"), "1 0/0 ");
  EXPECT_EQ(select("wlan"), "1 0/0 ");
  EXPECT_EQ(select("eth11"), "1 1/0 ");  // the prefix is not examined
}

TEST(SetWlanIdx, BadRadioChangesNothing) {
  for (const char *name : {"wlan2", "wlan-1", "wlan2-va0", "wlan99999999999999", "wla", "",
                           static_cast<const char *>(nullptr)})
    EXPECT_EQ(select(name), "0 1/3 invalid wlan interface index number!\n") << (name ? name : "(null)");
}

TEST(SetWlanIdx, BadVirtualNumberLeavesTheRadioSelected) {
  const std::string msg = "invalid virtual wlan interface index number!\n";
  EXPECT_EQ(select("wlan0-va5"), "0 0/0 " + msg);
  EXPECT_EQ(select("wlan1-va-1"), "0 1/0 " + msg);
  EXPECT_EQ(select("wlan0-va99999999999"), "0 0/0 " + msg);
}

TEST_F(WirelessStore, SelectionDecidesWhichInterfaceTheStoreReads) {
  load("wlan0.WLAN_DISABLED = 0\nwlan0-va1.WLAN_DISABLED = 1\nwlan1-vxd.WLAN_DISABLED = 1\n"
       "wlan1.WLAN_DISABLED = 0\nwlan0-vxd.WLAN_BAND = 13\n");
  EXPECT_EQ(getWirelessOnOff("wlan0"), 0);
  EXPECT_EQ(getWirelessOnOff("wlan0-va1"), 1);
  EXPECT_EQ(getWirelessOnOff("wlan1"), 0);
  EXPECT_EQ(getWirelessOnOff("wlan1-vxd"), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(getWirelessOnOff("wlan7"), 1);  // rejected: wlan1-vxd is still selected
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(wlan_idx * 10 + vwlan_idx, 15);
  int32_t band = 0;
  SetWlan_idx("wlan0-va4");
  apmib_get(MIB_WLAN_BAND, &band);
  EXPECT_EQ(band, 13);
}

TEST_F(WirelessStore, BandToModeNumber) {
  const int table[][2] = {{1, 1},   {2, 4},   {3, 0}, {4, 2},  {8, 6},  {12, 8},  {64, 14}, {68, 14},
                          {72, 14}, {76, 14}, {75, 75}, {0, 9}, {11, 9}, {77, 9}, {-1, 9}};
  for (const auto &row : table) {
    load("wlan1-va2.WLAN_BAND = " + std::to_string(row[0]) + "\nwlan0.WLAN_BAND = 1\n");
    EXPECT_EQ(getWirelessMode("wlan1-va2"), row[1]) << "band " << row[0];
  }
  EXPECT_EQ(getWirelessMode("wlan0"), 1);
}

TEST_F(WirelessStore, WpaKeyPerInterface) {
  const std::string longest(64, 'k');
  load("wlan0.WLAN_ENCRYPT = 4\nwlan0.WLAN_WPA_PSK = \"root passphrase\"\n"
       "wlan0-va1.WLAN_ENCRYPT = 2\nwlan0-va1.WLAN_WPA_PSK = \"guest\"\n"
       "wlan1-vxd.WLAN_ENCRYPT = 6\nwlan1-vxd.WLAN_WPA_PSK = \"" + longest + "\"\n"
       "wlan1.WLAN_ENCRYPT = 2\n!wlan1.WLAN_WPA_PSK\nwlan1-va0.WLAN_ENCRYPT = 3\n");
  char *key = getWirelessKey("wlan0");
  EXPECT_STREQ(key, "root passphrase");
  EXPECT_STREQ(getWirelessKey("wlan0-va1"), "guest");
  EXPECT_EQ(getWirelessKey("wlan1-vxd"), longest);
  EXPECT_EQ(getWirelessKey("wlan1"), key);  // the same static buffer, overwritten
  EXPECT_STREQ(key, "");                    // an unreadable key does not show the previous one
  EXPECT_STREQ(getWirelessKey("wlan1-vxd"), longest.c_str());
  EXPECT_STREQ(getWirelessKey("wlan1-va0"), "");  // no key without WEP or WPA
}

TEST_F(WirelessStore, WepKeyAsHexOrAsText) {
  load("wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 1\nwlan0.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan0.WLAN_WEP64_KEY1 = DEADbeef01\n"
       "wlan1.WLAN_ENCRYPT = 1\nwlan1.WLAN_WEP = 2\nwlan1.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan1.WLAN_WEP_DEFAULT_KEY = 3\nwlan1.WLAN_WEP128_KEY4 = 00112233445566778899AABBCC\n"
       "wlan0-va0.WLAN_ENCRYPT = 1\nwlan0-va0.WLAN_WEP = 2\nwlan0-va0.WLAN_WEP_KEY_TYPE = 0\n"
       "wlan0-va0.WLAN_WEP_DEFAULT_KEY = 1\nwlan0-va0.WLAN_WEP128_KEY2 = 41424300444546474849505152\n"
       "wlan0-va1.WLAN_ENCRYPT = 1\nwlan0-va1.WLAN_WEP = 2\nwlan0-va1.WLAN_WEP_KEY_TYPE = 2\n"
       "wlan0-va1.WLAN_WEP128_KEY1 = 4142434445464748494a4b4c4d\n");
  EXPECT_STREQ(getWirelessKey("wlan0"), "deadbeef01");
  EXPECT_STREQ(getWirelessKey("wlan1"), "00112233445566778899aabbcc");  // 26 digits
  EXPECT_STREQ(getWirelessKey("wlan0-va0"), "ABC");                    // up to the zero byte
  EXPECT_STREQ(getWirelessKey("wlan0-va1"), "ABCDEFGHIJKLM");          // all 13 bytes
}

TEST_F(WirelessStore, WepKeyOutsideTheTables) {
  load("wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 3\nwlan0.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan0.WLAN_WEP64_KEY1 = 1111111111\n"
       "wlan1.WLAN_ENCRYPT = 1\nwlan1.WLAN_WEP = 1\nwlan1.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan1.WLAN_WEP_DEFAULT_KEY = 4\nwlan1.WLAN_WEP64_KEY1 = 1111111111\n");
  EXPECT_STREQ(getWirelessKey("wlan0"), "");            // unknown key length
  EXPECT_STREQ(getWirelessKey("wlan1"), "0000000000");  // no such key index: zero bytes
}

std::string tokens(const char *name) {
  return std::string(getEncrypType(name)) + "/" + getAuthMode(name) + "/" + getRptEncrypType(name) + "/" +
         getRptAuthMode(name);
}

TEST_F(WirelessStore, TokensForEachEncryptionMode) {
  load("wlan0.WLAN_ENCRYPT = 0\n"
       "wlan0-va0.WLAN_ENCRYPT = 1\nwlan0-va0.WLAN_WEP = 1\nwlan0-va0.WLAN_AUTH_TYPE = 0\n"
       "wlan0-va1.WLAN_ENCRYPT = 1\nwlan0-va1.WLAN_WEP = 2\nwlan0-va1.WLAN_AUTH_TYPE = 2\n"
       "wlan0-va2.WLAN_ENCRYPT = 2\nwlan0-va2.WLAN_WPA_CIPHER_SUITE = 1\n"
       "wlan0-va3.WLAN_ENCRYPT = 4\nwlan0-va3.WLAN_WPA2_CIPHER_SUITE = 2\n"
       "wlan0-vxd.WLAN_ENCRYPT = 6\nwlan0-vxd.WLAN_WPA_CIPHER_SUITE = 2\n"
       "wlan0-vxd.WLAN_WPA2_CIPHER_SUITE = 2\n"
       "wlan1.WLAN_ENCRYPT = 3\nwlan1-va0.WLAN_ENCRYPT = 5\n");
  EXPECT_EQ(tokens("wlan0"), "NONE/NONE/NONE/NONE");
  EXPECT_EQ(tokens("wlan0-va0"), "WEP64/OPEN/OPEN/WEP");
  EXPECT_EQ(tokens("wlan0-va1"), "WEP128/SHARED/SHARED/WEP");
  EXPECT_EQ(tokens("wlan0-va2"), "TKIP/WPAPSK/TKIP/WPAPSK");
  EXPECT_EQ(tokens("wlan0-va3"), "AES/WPA2PSK/AES/WPA2PSK");
  EXPECT_EQ(tokens("wlan0-vxd"), "AES/WPAPSKWPA2PSK/AES/WPAPSKWPA2PSK");
  EXPECT_EQ(tokens("wlan1"), "NONE/NONE/NONE/NONE");
  EXPECT_EQ(tokens("wlan1-va0"), "NONE/NONE/NONE/NONE");
  EXPECT_EQ(wlan_idx * 10 + vwlan_idx, 11);  // the readers leave their selection in place
}

TEST_F(WirelessStore, CipherRulesDifferBetweenWpaWpa2AndMixed) {
  auto cipher = [this](int mode, int wpa, int wpa2) {
    load("wlan1-vxd.WLAN_ENCRYPT = " + std::to_string(mode) + "\nwlan1-vxd.WLAN_WPA_CIPHER_SUITE = " +
         std::to_string(wpa) + "\nwlan1-vxd.WLAN_WPA2_CIPHER_SUITE = " + std::to_string(wpa2) + "\n");
    std::string plain = getEncrypType("wlan1-vxd");
    EXPECT_EQ(plain, getRptEncrypType("wlan1-vxd"));
    return plain;
  };
  EXPECT_EQ(cipher(2, 3, 1), "AES");      // WPA: anything but TKIP is AES
  EXPECT_EQ(cipher(4, 1, 3), "TKIPAES");  // WPA2: anything but TKIP or AES is both
  EXPECT_EQ(cipher(2, 1, 2), "TKIP");
  EXPECT_EQ(cipher(4, 2, 1), "TKIP");
  EXPECT_EQ(cipher(4, 1, 2), "AES");
  EXPECT_EQ(cipher(6, 1, 1), "TKIP");
  EXPECT_EQ(cipher(6, 1, 2), "TKIPAES");
  EXPECT_EQ(cipher(6, 3, 3), "TKIPAES");
}

}  // namespace
