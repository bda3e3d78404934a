// WPS settings following a wireless change, read back from the store stand-in. Every WPS item
// starts at a sentinel value, so an item that was not written shows.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "brimlib.h"
#include "platform/apmib/apmib_ids.h"

namespace {

struct Wps {
  int32_t auth, enc, flag, configured;
  std::string ssid, psk;
  bool operator==(const Wps &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Wps &w) {
  return os << "{auth " << w.auth << ", enc " << w.enc << ", 281=" << w.flag << ", configured "
            << w.configured << ", ssid \"" << w.ssid << "\", psk \"" << w.psk << "\"}";
}

const Wps kSentinel{77, 77, 99, 0, "old-ssid", "old-psk"};

class WpsUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brim_wps_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/apmib.store";
    std::string text;
    for (const char *ifname : {"wlan0", "wlan1", "wlan0-va1", "wlan1-va1"}) {
      std::string p = std::string(ifname) + ".";
      text += p + "WLAN_WSC_AUTH = 77\n" + p + "WLAN_WSC_ENC = 77\n" + p +
              "WLAN_WSC_CONFIGBYEXTREG = 99\n" + p + "WLAN_WSC_CONFIGURED = 0\n" + p +
              "WLAN_WSC_SSID = \"old-ssid\"\n" + p + "WLAN_WSC_PSK = \"old-psk\"\n";
    }
    FILE *f = std::fopen(path_.c_str(), "w");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    ASSERT_EQ(std::fclose(f), 0);
    setenv("APMIB_STORE", path_.c_str(), 1);
    ASSERT_NE(apmib_init(), 0);
    std::memset(&wps_config_info, 0, sizeof wps_config_info);
    std::memset(&wps_config_info_tmp, 0, sizeof wps_config_info_tmp);
    wlan_idx = vwlan_idx = 0;
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
    wlan_idx = vwlan_idx = 0;
  }

  // The WPS items of one interface, read without disturbing the selection.
  static Wps read(int32_t radio, int32_t slot) {
    const int32_t r = wlan_idx, s = vwlan_idx;
    wlan_idx = radio;
    vwlan_idx = slot;
    Wps w{-1, -1, -1, -1, "", ""};
    char text[128] = {};
    apmib_get(MIB_WLAN_WSC_AUTH, &w.auth);
    apmib_get(MIB_WLAN_WSC_ENC, &w.enc);
    apmib_get(MIB_WLAN_WSC_CONFIGBYEXTREG, &w.flag);
    apmib_get(MIB_WLAN_WSC_CONFIGURED, &w.configured);
    if (apmib_get(MIB_WLAN_WSC_SSID, text)) w.ssid = text;
    if (apmib_get(MIB_WLAN_WSC_PSK, text)) w.psk = text;
    wlan_idx = r;
    vwlan_idx = s;
    return w;
  }
  // Both radios, root and va1, untouched.
  static void expect_all_untouched() {
    for (int32_t radio : {0, 1})
      for (int32_t slot : {0, 2}) EXPECT_EQ(read(radio, slot), kSentinel) << radio << "/" << slot;
  }
  static void run(int32_t kind, int clear_flag = 0) {
    wps_config_info.change_kind = kind;
    update_wps_configured(clear_flag);
  }

  WpsConfigInfo &was = wps_config_info;
  WpsConfigInfo &now = wps_config_info_tmp;
  std::string dir_, path_;
};

Wps with(Wps w, void (*change)(Wps &)) {
  change(w);
  return w;
}

// ---- kind 1: basic settings ----------------------------------------------------------------

TEST_F(WpsUpdate, BasicUnchangedWritesNothingAtAll) {
  std::strcpy(was.ssid, "home");
  std::strcpy(now.ssid, "home");
  was.basic_mode = now.basic_mode = 3;
  now.encryption = 4;  // security fields play no part in a basic change
  run(1, 1);
  expect_all_untouched();
}

TEST_F(WpsUpdate, BasicModeChangeWritesTheSsidAndMarksBothRadios) {
  std::strcpy(was.ssid, "home");
  std::strcpy(now.ssid, "home");
  was.basic_mode = 1;
  now.basic_mode = 2;
  run(1);
  Wps marked = with(kSentinel, [](Wps &w) {
    w.ssid = "home";
    w.flag = 0;
    w.configured = 1;
  });
  EXPECT_EQ(read(0, 0), marked);
  EXPECT_EQ(read(1, 0), with(kSentinel, [](Wps &w) { w.configured = 1; }));
  EXPECT_EQ(read(0, 2), kSentinel);
  EXPECT_EQ(wlan_idx, 0);
  EXPECT_EQ(vwlan_idx, 0);
}

TEST_F(WpsUpdate, LongestSsidSurvivesWhole) {
  const std::string ssid32(32, 'S');
  std::memcpy(now.ssid, ssid32.c_str(), 33);
  std::strcpy(was.ssid, "short");
  run(1);
  EXPECT_EQ(read(0, 0).ssid, ssid32);
}

TEST_F(WpsUpdate, SsidFilledToTheLastByteIsStillTerminated) {
  std::memset(now.ssid, 'T', sizeof now.ssid);  // no terminator in the record
  run(1);
  EXPECT_EQ(read(0, 0).ssid, std::string(32, 'T'));  // the store keeps its 32 bytes
}

TEST_F(WpsUpdate, OtherRadioIsMarkedOnTheSameSlotAndSelectionRestored) {
  wlan_idx = 1;
  vwlan_idx = 2;  // wlan1-va1
  std::strcpy(now.ssid, "guest");
  run(1);
  EXPECT_EQ(read(1, 2), with(kSentinel, [](Wps &w) {
              w.ssid = "guest";
              w.flag = 0;
              w.configured = 1;
            }));
  EXPECT_EQ(read(0, 2), with(kSentinel, [](Wps &w) { w.configured = 1; }));
  EXPECT_EQ(read(0, 0), kSentinel);
  EXPECT_EQ(read(1, 0), kSentinel);
  EXPECT_EQ(wlan_idx, 1);
  EXPECT_EQ(vwlan_idx, 2);
}

TEST_F(WpsUpdate, AlreadyConfiguredLeavesTheOtherRadioAlone) {
  int32_t one = 1;
  apmib_set(MIB_WLAN_WSC_CONFIGURED, &one);
  std::strcpy(now.ssid, "new");
  run(1);
  EXPECT_EQ(read(0, 0), with(kSentinel, [](Wps &w) {
              w.ssid = "new";
              w.flag = 0;
              w.configured = 1;
            }));
  EXPECT_EQ(read(1, 0), kSentinel);
}

TEST_F(WpsUpdate, RadioOutsideTheTwoMarksOnlyWhatIsSelected) {
  wlan_idx = 2;  // nothing in the store answers for it
  std::strcpy(now.ssid, "x");
  run(1);
  EXPECT_EQ(wlan_idx, 2);
  wlan_idx = 0;
  expect_all_untouched();
}

// ---- kind 4: WEP authentication type -------------------------------------------------------

TEST_F(WpsUpdate, WepAuthChangesThatWriteNothing) {
  const struct {
    int32_t encryption, was, now;
  } cases[] = {{4, 0, 1}, {0, 1, 0}, {1, 0, 2}, {1, 2, 0}, {1, 1, 1}, {1, 1, 3}, {1, 3, 1}};
  for (const auto &c : cases) {
    now.encryption = c.encryption;
    was.authentication = c.was;
    now.authentication = c.now;
    run(4, 1);
    expect_all_untouched();
  }
}

TEST_F(WpsUpdate, SharedToOpenOrEitherWritesOpen) {
  now.encryption = 1;
  was.authentication = 1;
  now.authentication = 2;
  run(4);
  Wps marked = with(kSentinel, [](Wps &w) {
    w.auth = 1;
    w.flag = 0;
    w.configured = 1;
  });
  EXPECT_EQ(read(0, 0), marked);
  EXPECT_EQ(read(1, 0), with(kSentinel, [](Wps &w) { w.configured = 1; }));
}

TEST_F(WpsUpdate, OpenOrEitherToSharedWritesShared) {
  for (int32_t from : {0, 2}) {
    ASSERT_NE(apmib_init(), 0);  // back to the sentinels
    now.encryption = 1;
    was.authentication = from;
    now.authentication = 1;
    run(4);
    EXPECT_EQ(read(0, 0), with(kSentinel, [](Wps &w) {
                w.auth = 4;
                w.flag = 0;
                w.configured = 1;
              }));
  }
}

// ---- security kinds: the WPS types ---------------------------------------------------------

struct Types {
  int32_t auth, enc;
  bool operator==(const Types &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Types &t) { return os << t.auth << "/" << t.enc; }

TEST_F(WpsUpdate, TypesFromTheNewSecuritySettings) {
  const struct {
    int32_t encryption, authentication, wpa, wpa2;
    Types want;
  } table[] = {
      {0, 0, 0, 0, {1, 1}},  {1, 0, 0, 0, {1, 2}},  {1, 2, 0, 0, {1, 2}},  {1, 1, 0, 0, {4, 2}},
      {2, 2, 1, 0, {2, 4}},  {2, 2, 2, 0, {2, 8}},  {2, 2, 3, 2, {2, 12}}, {4, 2, 0, 1, {32, 4}},
      {4, 2, 0, 2, {32, 8}}, {4, 2, 2, 3, {32, 12}}, {6, 2, 1, 3, {34, 12}}, {6, 2, 2, 2, {34, 8}},
      {6, 2, 1, 1, {34, 4}}, {6, 2, 1, 2, {34, 12}}, {6, 2, 2, 1, {34, 8}}, {6, 2, 3, 1, {34, 8}},
      {3, 2, 2, 2, {34, 8}}, {5, 0, 0, 0, {34, 4}},
  };
  for (const auto &row : table) {
    now.encryption = row.encryption;
    now.authentication = row.authentication;
    now.wpa_cipher = row.wpa;
    now.wpa2_cipher = row.wpa2;
    run(0);
    Wps w = read(0, 0);
    EXPECT_EQ((Types{w.auth, w.enc}), row.want)
        << "encryption " << row.encryption << " auth " << row.authentication << " ciphers " << row.wpa
        << "/" << row.wpa2;
  }
}

TEST_F(WpsUpdate, UnlistedKindWritesTypesButNeverMarks) {
  std::strcpy(now.psk, "different");
  now.encryption = 2;
  now.authentication = 1;  // no pre-shared key bit: the key is not written
  now.wpa_cipher = 2;
  run(7);
  EXPECT_EQ(read(0, 0), with(kSentinel, [](Wps &w) {
              w.auth = 2;
              w.enc = 8;
            }));
  EXPECT_EQ(read(1, 0), kSentinel);
  run(0, 1);  // on request the flag is cleared, still without marking
  EXPECT_EQ(read(0, 0), with(kSentinel, [](Wps &w) {
              w.auth = 2;
              w.enc = 8;
              w.flag = 0;
            }));
}

// ---- kind 3: WPA settings ------------------------------------------------------------------

TEST_F(WpsUpdate, WpaUnchangedStillWritesTypesAndKeyButDoesNotMark) {
  for (WpsConfigInfo *r : {&was, &now}) {
    r->encryption = 4;
    r->authentication = 2;
    r->wpa2_cipher = 2;
    std::strcpy(r->psk, "same passphrase");
  }
  run(3);
  EXPECT_EQ(read(0, 0), with(kSentinel, [](Wps &w) {
              w.auth = 32;
              w.enc = 8;
              w.psk = "same passphrase";
            }));
  EXPECT_EQ(read(1, 0), kSentinel);
}

TEST_F(WpsUpdate, WpaChangesMark) {
  auto base = [this] {
    ASSERT_NE(apmib_init(), 0);
    std::memset(&was, 0, sizeof was);
    for (WpsConfigInfo *r : {&was, &now}) {
      r->encryption = 6;
      r->authentication = 2;
      r->wpa_cipher = 1;
      r->wpa2_cipher = 2;
      std::strcpy(r->psk, "k");
    }
  };
  void (*changes[])(WpsConfigInfo &) = {
      [](WpsConfigInfo &n) { n.encryption = 4; }, [](WpsConfigInfo &n) { n.wpa_cipher = 2; },
      [](WpsConfigInfo &n) { n.wpa2_cipher = 1; }, [](WpsConfigInfo &n) { std::strcpy(n.psk, "k2"); }};
  for (auto change : changes) {
    base();
    change(now);
    run(3);
    EXPECT_EQ(read(0, 0).configured, 1);
    EXPECT_EQ(read(0, 0).flag, 0);
    EXPECT_EQ(read(1, 0).configured, 1);
  }
}

TEST_F(WpsUpdate, LongestPassphraseSurvivesWhole) {
  const std::string psk64(64, 'p');
  now.encryption = 2;
  now.authentication = 2;
  std::memcpy(now.psk, psk64.c_str(), 65);
  run(3);
  EXPECT_EQ(read(0, 0).psk, psk64);
}

// ---- kind 2: WEP settings ------------------------------------------------------------------

TEST_F(WpsUpdate, WepUnchangedDoesNotMarkAnyKeyByteDoes) {
  for (WpsConfigInfo *r : {&was, &now}) {
    r->encryption = 1;
    r->authentication = 1;
    r->wep_option = 2;
    r->wep_key_option = 1;
    std::memset(r->wep128_keys, 0x41, sizeof r->wep128_keys);
  }
  run(2, 1);
  EXPECT_EQ(read(0, 0), with(kSentinel, [](Wps &w) {
              w.auth = 4;
              w.enc = 2;
              w.flag = 0;
            }));
  EXPECT_EQ(read(1, 0), kSentinel);

  now.wep128_keys[3][12] = 0x42;  // the last byte of the last key counts too
  run(2);
  EXPECT_EQ(read(0, 0).configured, 1);
  EXPECT_EQ(read(1, 0).configured, 1);
}

TEST_F(WpsUpdate, WepOptionsAndShortKeysCount) {
  void (*changes[])(WpsConfigInfo &) = {[](WpsConfigInfo &n) { n.wep_option = 1; },
                                        [](WpsConfigInfo &n) { n.wep_key_option = 1; },
                                        [](WpsConfigInfo &n) { n.wep64_keys[0][4] = 9; },
                                        [](WpsConfigInfo &n) { n.encryption = 0; }};
  for (auto change : changes) {
    ASSERT_NE(apmib_init(), 0);
    std::memset(&now, 0, sizeof now);
    std::memset(&was, 0, sizeof was);
    now.encryption = was.encryption = 1;
    change(now);
    run(2);
    EXPECT_EQ(read(1, 0).configured, 1);
  }
}

}  // namespace
