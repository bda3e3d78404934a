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
    path_ = dir_ + "/apmib.store";
    wlan_idx = vwlan_idx = 0;
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
    wlan_idx = vwlan_idx = 0;
  }
  void load(const std::string &text) {
    FILE *f = std::fopen(path_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    ASSERT_EQ(std::fclose(f), 0);
    setenv("APMIB_STORE", path_.c_str(), 1);
    ASSERT_NE(apmib_init(), 0);
  }
  std::string dir_, path_;
};

struct Selection {
  int rc;
  int32_t radio, slot;
  std::string printed;
  bool operator==(const Selection &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Selection &s) {
  return os << "{rc " << s.rc << ", " << s.radio << "/" << s.slot << ", \"" << s.printed << "\"}";
}

// Selects `name` starting from radio 1, slot 3, so that untouched globals show.
Selection select(const char *name) {
  wlan_idx = 1;
  vwlan_idx = 3;
  testing::internal::CaptureStdout();
  int rc = SetWlan_idx(name);
  std::string out = testing::internal::GetCapturedStdout();
  return {rc, wlan_idx, vwlan_idx, out};
}

// ---- SetWlan_idx ---------------------------------------------------------------------------

TEST(SetWlanIdx, NamesSelectRadioAndSlot) {
  EXPECT_EQ(select("wlan0"), (Selection{1, 0, 0, ""}));
  EXPECT_EQ(select("wlan1"), (Selection{1, 1, 0, ""}));
  EXPECT_EQ(select("wlan1-va0"), (Selection{1, 1, 1, ""}));
  EXPECT_EQ(select("wlan0-va1"), (Selection{1, 0, 2, ""}));
  EXPECT_EQ(select("wlan0-va3"), (Selection{1, 0, 4, ""}));
  EXPECT_EQ(select("wlan0-vxd"), (Selection{1, 0, 5, ""}));
  EXPECT_EQ(select("wlan1-vxd"), (Selection{1, 1, 5, ""}));
  EXPECT_EQ(select("wlan1-va4"), (Selection{1, 1, 5, ""}));  // shares the repeater's slot
}

TEST(SetWlanIdx, OddNamesFallBackToTheRootInterface) {
  EXPECT_EQ(select("wlan0-va"), (Selection{1, 0, 0, ""}));  // too short for a number
  EXPECT_EQ(select("wlan0-xyz"), (Selection{1, 0, 0, ""}));
  EXPECT_EQ(select("wlan1-vxq"), (Selection{1, 1, 0, ""}));
  EXPECT_EQ(select("wlan1_va2"), (Selection{1, 1, 0, ""}));
  EXPECT_EQ(select("wlanX"), (Selection{1, 0, 0, ""}));
  EXPECT_EQ(select("wlan"), (Selection{1, 0, 0, ""}));
  EXPECT_EQ(select("eth11"), (Selection{1, 1, 0, ""}));  // the prefix is not examined
}

TEST(SetWlanIdx, BadRadioChangesNothing) {
  const std::string msg = "invalid wlan interface index number!\n";
  EXPECT_EQ(select("wlan2"), (Selection{0, 1, 3, msg}));
  EXPECT_EQ(select("wlan-1"), (Selection{0, 1, 3, msg}));
  EXPECT_EQ(select("wlan2-va0"), (Selection{0, 1, 3, msg}));
  EXPECT_EQ(select("wlan99999999999999"), (Selection{0, 1, 3, msg}));
  EXPECT_EQ(select("wla"), (Selection{0, 1, 3, msg}));
  EXPECT_EQ(select(""), (Selection{0, 1, 3, msg}));
  EXPECT_EQ(select(nullptr), (Selection{0, 1, 3, msg}));
}

TEST(SetWlanIdx, BadVirtualNumberLeavesTheRadioSelected) {
  const std::string msg = "invalid virtual wlan interface index number!\n";
  EXPECT_EQ(select("wlan0-va5"), (Selection{0, 0, 0, msg}));
  EXPECT_EQ(select("wlan1-va-1"), (Selection{0, 1, 0, msg}));
  EXPECT_EQ(select("wlan0-va99999999999"), (Selection{0, 0, 0, msg}));
}

TEST_F(WirelessStore, SelectionDecidesWhichInterfaceTheStoreReads) {
  load("wlan0.WLAN_BAND = 10\n"
       "wlan0-va1.WLAN_BAND = 11\n"
       "wlan1-vxd.WLAN_BAND = 12\n"
       "wlan0-vxd.WLAN_BAND = 13\n");
  auto band_of = [](const char *name) {
    int32_t v = -1;
    SetWlan_idx(name);
    apmib_get(MIB_WLAN_BAND, &v);
    return v;
  };
  EXPECT_EQ(band_of("wlan0"), 10);
  EXPECT_EQ(band_of("wlan0-va1"), 11);
  EXPECT_EQ(band_of("wlan1-vxd"), 12);
  EXPECT_EQ(band_of("wlan1-va4"), 12);
  EXPECT_EQ(band_of("wlan0-va4"), 13);
  EXPECT_EQ(band_of("wlan1"), 0);
}

// ---- getWirelessOnOff / getWirelessMode ----------------------------------------------------

TEST_F(WirelessStore, OnOffPerInterfaceAndRejectedNamesReadTheCurrentOne) {
  load("wlan0.WLAN_DISABLED = 0\n"
       "wlan0-va1.WLAN_DISABLED = 1\n"
       "wlan1-vxd.WLAN_DISABLED = 1\n"
       "wlan1.WLAN_DISABLED = 0\n");
  EXPECT_EQ(getWirelessOnOff("wlan0"), 0);
  EXPECT_EQ(getWirelessOnOff("wlan0-va1"), 1);
  EXPECT_EQ(getWirelessOnOff("wlan1"), 0);
  EXPECT_EQ(getWirelessOnOff("wlan1-vxd"), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(getWirelessOnOff("wlan7"), 1);  // still wlan1-vxd
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "invalid wlan interface index number!\n");
  EXPECT_EQ(wlan_idx, 1);
  EXPECT_EQ(vwlan_idx, 5);
}

TEST_F(WirelessStore, BandToModeNumber) {
  const struct {
    int band, mode;
  } table[] = {{1, 1},   {2, 4},   {3, 0},   {4, 2},   {8, 6},  {12, 8}, {64, 14}, {68, 14},
               {72, 14}, {76, 14}, {75, 75}, {0, 9},   {11, 9}, {5, 9},  {77, 9},  {-1, 9}};
  for (const auto &row : table) {
    load("wlan1-va2.WLAN_BAND = " + std::to_string(row.band) + "\nwlan0.WLAN_BAND = 1\n");
    EXPECT_EQ(getWirelessMode("wlan1-va2"), row.mode) << "band " << row.band;
  }
  EXPECT_EQ(getWirelessMode("wlan0"), 1);
}

// ---- getWirelessKey ------------------------------------------------------------------------

TEST_F(WirelessStore, WpaKeyPerInterface) {
  const std::string longest(64, 'k');
  load("wlan0.WLAN_ENCRYPT = 4\nwlan0.WLAN_WPA_PSK = \"root passphrase\"\n"
       "wlan0-va1.WLAN_ENCRYPT = 2\nwlan0-va1.WLAN_WPA_PSK = \"guest\"\n"
       "wlan1-vxd.WLAN_ENCRYPT = 6\nwlan1-vxd.WLAN_WPA_PSK = \"" + longest + "\"\n"
       "wlan1.WLAN_ENCRYPT = 2\n!wlan1.WLAN_WPA_PSK\n");
  EXPECT_STREQ(getWirelessKey("wlan0"), "root passphrase");
  EXPECT_STREQ(getWirelessKey("wlan0-va1"), "guest");
  EXPECT_EQ(std::string(getWirelessKey("wlan1-vxd")), longest);
  EXPECT_STREQ(getWirelessKey("wlan1"), "");  // an unreadable key does not show the previous one
}

TEST_F(WirelessStore, WepKeyAsHexDigits) {
  load("wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 1\nwlan0.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan0.WLAN_WEP_DEFAULT_KEY = 0\nwlan0.WLAN_WEP64_KEY1 = DEADbeef01\n"
       "wlan0.WLAN_WEP64_KEY2 = 0000000000\n"
       "wlan1.WLAN_ENCRYPT = 1\nwlan1.WLAN_WEP = 2\nwlan1.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan1.WLAN_WEP_DEFAULT_KEY = 3\nwlan1.WLAN_WEP128_KEY4 = 00112233445566778899AABBCC\n"
       "wlan1.WLAN_WEP128_KEY1 = ffffffffffffffffffffffffff\n");
  EXPECT_STREQ(getWirelessKey("wlan0"), "deadbeef01");
  const char *k128 = getWirelessKey("wlan1");
  EXPECT_STREQ(k128, "00112233445566778899aabbcc");
  EXPECT_EQ(std::string(k128).size(), 26u);
}

TEST_F(WirelessStore, WepKeyAsTextEndsAtAZeroByte) {
  load("wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 2\nwlan0.WLAN_WEP_KEY_TYPE = 0\n"
       "wlan0.WLAN_WEP_DEFAULT_KEY = 1\nwlan0.WLAN_WEP128_KEY2 = 41424300444546474849505152\n"
       "wlan0-va0.WLAN_ENCRYPT = 1\nwlan0-va0.WLAN_WEP = 1\nwlan0-va0.WLAN_WEP_KEY_TYPE = 2\n"
       "wlan0-va0.WLAN_WEP_DEFAULT_KEY = 2\nwlan0-va0.WLAN_WEP64_KEY3 = 68656c6c6f\n"
       "wlan0-va1.WLAN_ENCRYPT = 1\nwlan0-va1.WLAN_WEP = 2\nwlan0-va1.WLAN_WEP_KEY_TYPE = 0\n"
       "wlan0-va1.WLAN_WEP128_KEY1 = 4142434445464748494a4b4c4d\n");
  EXPECT_STREQ(getWirelessKey("wlan0"), "ABC");
  EXPECT_STREQ(getWirelessKey("wlan0-va0"), "hello");
  EXPECT_STREQ(getWirelessKey("wlan0-va1"), "ABCDEFGHIJKLM");  // all 13 bytes, no terminator stored
}

TEST_F(WirelessStore, WepKeyOutsideTheTablesIsEmptyOrZero) {
  load("wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 3\nwlan0.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan0.WLAN_WEP64_KEY1 = 1111111111\nwlan0.WLAN_WEP128_KEY1 = 11111111111111111111111111\n"
       "wlan1.WLAN_ENCRYPT = 1\nwlan1.WLAN_WEP = 1\nwlan1.WLAN_WEP_KEY_TYPE = 1\n"
       "wlan1.WLAN_WEP_DEFAULT_KEY = 4\nwlan1.WLAN_WEP64_KEY1 = 1111111111\n"
       "wlan1-va0.WLAN_ENCRYPT = 1\nwlan1-va0.WLAN_WEP = 1\nwlan1-va0.WLAN_WEP_DEFAULT_KEY = -1\n"
       "wlan1-va0.WLAN_WEP64_KEY1 = 4141414141\n");
  EXPECT_STREQ(getWirelessKey("wlan0"), "");            // unknown key length
  EXPECT_STREQ(getWirelessKey("wlan1"), "0000000000");  // no such key index: zero bytes
  EXPECT_STREQ(getWirelessKey("wlan1-va0"), "");
}

TEST_F(WirelessStore, NoKeyWithoutEncryption) {
  load("wlan0.WLAN_ENCRYPT = 0\nwlan0.WLAN_WPA_PSK = \"unused\"\n"
       "wlan1.WLAN_ENCRYPT = 3\nwlan1.WLAN_WPA_PSK = \"unused\"\n"
       "wlan0-vxd.WLAN_ENCRYPT = 4\nwlan0-vxd.WLAN_WPA_PSK = \"used\"\n");
  char *first = getWirelessKey("wlan0-vxd");
  EXPECT_STREQ(first, "used");
  EXPECT_EQ(getWirelessKey("wlan0"), first);  // the same static buffer, overwritten
  EXPECT_STREQ(first, "");
  EXPECT_STREQ(getWirelessKey("wlan1"), "");
}

// ---- encryption and authentication tokens --------------------------------------------------

struct Tokens {
  std::string enc, auth, rpt_enc, rpt_auth;
  bool operator==(const Tokens &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Tokens &t) {
  return os << t.enc << "/" << t.auth << "/" << t.rpt_enc << "/" << t.rpt_auth;
}

Tokens tokens(const char *name) {
  return {getEncrypType(name), getAuthMode(name), getRptEncrypType(name), getRptAuthMode(name)};
}

TEST_F(WirelessStore, TokensForEachEncryptionMode) {
  load("wlan0.WLAN_ENCRYPT = 0\n"
       "wlan0-va0.WLAN_ENCRYPT = 1\nwlan0-va0.WLAN_WEP = 1\nwlan0-va0.WLAN_AUTH_TYPE = 0\n"
       "wlan0-va1.WLAN_ENCRYPT = 1\nwlan0-va1.WLAN_WEP = 2\nwlan0-va1.WLAN_AUTH_TYPE = 2\n"
       "wlan0-va2.WLAN_ENCRYPT = 2\nwlan0-va2.WLAN_WPA_CIPHER_SUITE = 1\n"
       "wlan0-va3.WLAN_ENCRYPT = 4\nwlan0-va3.WLAN_WPA2_CIPHER_SUITE = 2\n"
       "wlan0-vxd.WLAN_ENCRYPT = 6\nwlan0-vxd.WLAN_WPA_CIPHER_SUITE = 2\n"
       "wlan0-vxd.WLAN_WPA2_CIPHER_SUITE = 2\n"
       "wlan1.WLAN_ENCRYPT = 3\nwlan1-va0.WLAN_ENCRYPT = 5\nwlan1-va1.WLAN_ENCRYPT = -7\n");
  EXPECT_EQ(tokens("wlan0"), (Tokens{"NONE", "NONE", "NONE", "NONE"}));
  EXPECT_EQ(tokens("wlan0-va0"), (Tokens{"WEP64", "OPEN", "OPEN", "WEP"}));
  EXPECT_EQ(tokens("wlan0-va1"), (Tokens{"WEP128", "SHARED", "SHARED", "WEP"}));
  EXPECT_EQ(tokens("wlan0-va2"), (Tokens{"TKIP", "WPAPSK", "TKIP", "WPAPSK"}));
  EXPECT_EQ(tokens("wlan0-va3"), (Tokens{"AES", "WPA2PSK", "AES", "WPA2PSK"}));
  EXPECT_EQ(tokens("wlan0-vxd"), (Tokens{"AES", "WPAPSKWPA2PSK", "AES", "WPAPSKWPA2PSK"}));
  EXPECT_EQ(tokens("wlan1"), (Tokens{"NONE", "NONE", "NONE", "NONE"}));
  EXPECT_EQ(tokens("wlan1-va0"), (Tokens{"NONE", "NONE", "NONE", "NONE"}));
  EXPECT_EQ(tokens("wlan1-va1"), (Tokens{"NONE", "NONE", "NONE", "NONE"}));
}

TEST_F(WirelessStore, CipherRulesDifferBetweenWpaWpa2AndMixed) {
  auto cipher = [this](int mode, int wpa, int wpa2) {
    load("wlan1-vxd.WLAN_ENCRYPT = " + std::to_string(mode) +
         "\nwlan1-vxd.WLAN_WPA_CIPHER_SUITE = " + std::to_string(wpa) +
         "\nwlan1-vxd.WLAN_WPA2_CIPHER_SUITE = " + std::to_string(wpa2) + "\n");
    std::string plain = getEncrypType("wlan1-vxd");
    EXPECT_EQ(plain, std::string(getRptEncrypType("wlan1-vxd")));
    return plain;
  };
  EXPECT_EQ(cipher(2, 3, 1), "AES");  // WPA: anything but TKIP is AES
  EXPECT_EQ(cipher(2, 2, 1), "AES");
  EXPECT_EQ(cipher(2, 1, 2), "TKIP");
  EXPECT_EQ(cipher(4, 1, 3), "TKIPAES");  // WPA2: anything but TKIP or AES is both
  EXPECT_EQ(cipher(4, 2, 1), "TKIP");
  EXPECT_EQ(cipher(4, 1, 2), "AES");
  EXPECT_EQ(cipher(6, 1, 1), "TKIP");
  EXPECT_EQ(cipher(6, 2, 2), "AES");
  EXPECT_EQ(cipher(6, 1, 2), "TKIPAES");
  EXPECT_EQ(cipher(6, 2, 1), "TKIPAES");
  EXPECT_EQ(cipher(6, 3, 3), "TKIPAES");
}

TEST_F(WirelessStore, TokenReadersKeepTheirOwnBuffersAndTheSelection) {
  load("wlan0.WLAN_ENCRYPT = 4\nwlan0.WLAN_WPA2_CIPHER_SUITE = 3\n"
       "wlan1-vxd.WLAN_ENCRYPT = 2\nwlan1-vxd.WLAN_WPA_CIPHER_SUITE = 1\n");
  char *enc = getEncrypType("wlan0");
  char *auth = getAuthMode("wlan0");
  EXPECT_STREQ(enc, "TKIPAES");
  EXPECT_STREQ(auth, "WPA2PSK");
  EXPECT_EQ(getEncrypType("wlan1-vxd"), enc);
  EXPECT_STREQ(enc, "TKIP");
  EXPECT_STREQ(auth, "WPA2PSK");  // another reader's buffer is not touched
  EXPECT_NE(static_cast<void *>(getRptEncrypType("wlan0")), static_cast<void *>(enc));
  EXPECT_EQ(wlan_idx, 0);
  getRptAuthMode("wlan1-vxd");
  EXPECT_EQ(wlan_idx, 1);
  EXPECT_EQ(vwlan_idx, 5);
}

}  // namespace
