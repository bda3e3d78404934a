// WPS settings following a wireless change, read back from the store stand-in. Every WPS item
// starts at a sentinel value, so an item that was not written shows.

#include "brimlib/config/item_ids.h"
#include "tests/support/store_file.h"
#include "tests/unit/unit.h"

namespace {

constexpr const char *kSentinel = "auth 77 enc 77 flag 99 conf 0 ssid old-ssid psk old-psk";

class WpsUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char *ifname : {"wlan0.", "wlan1.", "wlan0-va1.", "wlan1-va1."})
      for (const char *item : {"WLAN_WSC_AUTH = 77", "WLAN_WSC_ENC = 77", "WLAN_WSC_CONFIGBYEXTREG = 99",
                               "WLAN_WSC_CONFIGURED = 0", "WLAN_WSC_SSID = \"old-ssid\"", "WLAN_WSC_PSK = \"old-psk\""})
        text_ += std::string(ifname) + item + "\n";
    reset();
  }
  void TearDown() override { wlan_idx = vwlan_idx = 0; }
  // Back to the sentinels, empty records, wlan0 selected.
  void reset() {
    ASSERT_TRUE(store_.load(text_));
    std::memset(&was, 0, sizeof was), std::memset(&now, 0, sizeof now);
    wlan_idx = vwlan_idx = 0;
  }
  // The WPS items of one interface as text, read without disturbing the selection.
  static std::string read(int32_t radio, int32_t slot) {
    const int32_t r = wlan_idx, s = vwlan_idx;
    wlan_idx = radio, vwlan_idx = slot;
    int32_t v[4] = {-1, -1, -1, -1}, i = 0;
    char ssid[128] = "?", psk[128] = "?", out[400];
    for (int id : {MIB_WLAN_WSC_AUTH, MIB_WLAN_WSC_ENC, MIB_WLAN_WSC_CONFIGBYEXTREG, MIB_WLAN_WSC_CONFIGURED}) apmib_get(id, &v[i++]);
    apmib_get(MIB_WLAN_WSC_SSID, ssid), apmib_get(MIB_WLAN_WSC_PSK, psk);
    wlan_idx = r, vwlan_idx = s;
    std::snprintf(out, sizeof out, "auth %d enc %d flag %d conf %d ssid %s psk %s", v[0], v[1], v[2], v[3], ssid, psk);
    return out;
  }
  static void expect_all_untouched() {
    for (int32_t radio : {0, 1}) for (int32_t slot : {0, 2}) EXPECT_EQ(read(radio, slot), kSentinel) << radio << "/" << slot;
  }
  static void run(int32_t kind, int clear_flag = 0) { wps_config_info.change_kind = kind; update_wps_configured(clear_flag); }

  WpsConfigInfo &was = wps_config_info;
  WpsConfigInfo &now = wps_config_info_tmp;
  brim_test::StoreFile store_;
  std::string text_;
};

TEST_F(WpsUpdate, ChangesThatDoNotMatterWriteNothingAtAll) {
  std::strcpy(was.ssid, "home"), std::strcpy(now.ssid, "home");
  was.basic_mode = now.basic_mode = 3;
  now.encryption = 4;  // security fields play no part in a basic change
  run(1, 1);
  expect_all_untouched();
  // WEP authentication changes (kind 4) that stay open-capable or are not WEP at all.
  for (auto [enc, from, to] : {std::tuple{4, 0, 1}, {0, 1, 0}, {1, 0, 2}, {1, 2, 0}, {1, 1, 1}, {1, 1, 3}, {1, 3, 1}}) {
    now.encryption = enc, was.authentication = from, now.authentication = to;
    run(4, 1);
    expect_all_untouched();
  }
}

TEST_F(WpsUpdate, BasicChangeWritesTheSsidAndMarksBothRadiosOnce) {
  std::strcpy(was.ssid, "home"), std::strcpy(now.ssid, "home");
  now.basic_mode = 2;
  run(1);
  EXPECT_EQ(read(0, 0), "auth 77 enc 77 flag 0 conf 1 ssid home psk old-psk");
  EXPECT_EQ(read(1, 0), "auth 77 enc 77 flag 99 conf 1 ssid old-ssid psk old-psk");
  EXPECT_EQ(read(0, 2), kSentinel);
  EXPECT_EQ(wlan_idx, 0);
  // Already configured: the other radio is left alone.
  reset();
  int32_t one = 1;
  apmib_set(MIB_WLAN_WSC_CONFIGURED, &one);
  std::strcpy(now.ssid, "new");
  run(1);
  EXPECT_EQ(read(0, 0), "auth 77 enc 77 flag 0 conf 1 ssid new psk old-psk");
  EXPECT_EQ(read(1, 0), kSentinel);
}

TEST_F(WpsUpdate, OtherRadioIsMarkedOnTheSameSlotAndSelectionRestored) {
  wlan_idx = 1, vwlan_idx = 2;  // wlan1-va1
  std::memset(now.ssid, 'S', sizeof now.ssid);  // filled to the last byte, no terminator
  run(1);
  EXPECT_EQ(read(1, 2), "auth 77 enc 77 flag 0 conf 1 ssid " + std::string(32, 'S') + " psk old-psk");
  EXPECT_EQ(read(0, 2), "auth 77 enc 77 flag 99 conf 1 ssid old-ssid psk old-psk");
  EXPECT_EQ(read(0, 0), kSentinel);
  EXPECT_EQ(read(1, 0), kSentinel);
  EXPECT_EQ(wlan_idx * 10 + vwlan_idx, 12);
}

TEST_F(WpsUpdate, WepAuthBetweenOpenAndSharedWritesTheType) {
  for (auto [from, to, type] : {std::tuple{1, 2, 1}, {1, 0, 1}, {0, 1, 4}, {2, 1, 4}}) {
    reset();
    now.encryption = 1, was.authentication = from, now.authentication = to;
    run(4);
    EXPECT_EQ(read(0, 0), "auth " + std::to_string(type) + " enc 77 flag 0 conf 1 ssid old-ssid psk old-psk");
    EXPECT_EQ(read(1, 0), "auth 77 enc 77 flag 99 conf 1 ssid old-ssid psk old-psk");
  }
}

TEST_F(WpsUpdate, TypesFromTheNewSecuritySettings) {
  const int32_t table[][6] = {  // encryption, authentication, wpa, wpa2 -> auth type, enc type
      {0, 0, 0, 0, 1, 1},   {1, 0, 0, 0, 1, 2},   {1, 2, 0, 0, 1, 2},   {1, 1, 0, 0, 4, 2},
      {2, 2, 1, 0, 2, 4},   {2, 2, 2, 0, 2, 8},   {2, 2, 3, 2, 2, 12},  {4, 2, 0, 1, 32, 4},
      {4, 2, 0, 2, 32, 8},  {4, 2, 2, 3, 32, 12}, {6, 2, 1, 3, 34, 12}, {6, 2, 2, 2, 34, 8},
      {6, 2, 1, 1, 34, 4},  {6, 2, 1, 2, 34, 12}, {6, 2, 3, 1, 34, 8},  {5, 0, 0, 0, 34, 4}};
  for (const auto &row : table) {
    now.encryption = row[0], now.authentication = row[1], now.wpa_cipher = row[2], now.wpa2_cipher = row[3];
    run(0);
    std::string got = read(0, 0);
    EXPECT_EQ(got.substr(0, got.find(" flag")), "auth " + std::to_string(row[4]) + " enc " + std::to_string(row[5]))
        << row[0] << " " << row[1] << " " << row[2] << "/" << row[3];
  }
}

TEST_F(WpsUpdate, UnlistedKindsAndUnchangedWpaWriteTypesButNeverMark) {
  std::strcpy(now.psk, "different");
  now.encryption = 2, now.authentication = 1, now.wpa_cipher = 2;  // no pre-shared key bit: the key is not written
  run(7);
  EXPECT_EQ(read(0, 0), "auth 2 enc 8 flag 99 conf 0 ssid old-ssid psk old-psk");
  run(0, 1);  // on request the flag is cleared, still without marking
  EXPECT_EQ(read(0, 0), "auth 2 enc 8 flag 0 conf 0 ssid old-ssid psk old-psk");
  EXPECT_EQ(read(1, 0), kSentinel);
  // An unchanged WPA setting (kind 3) still writes the types and the key, the longest one whole.
  reset();
  for (WpsConfigInfo *r : {&was, &now}) {
    r->encryption = 4, r->authentication = 2, r->wpa2_cipher = 2;
    std::memset(r->psk, 'p', 64);  // the longest passphrase
  }
  run(3);
  EXPECT_EQ(read(0, 0), "auth 32 enc 8 flag 99 conf 0 ssid old-ssid psk " + std::string(64, 'p'));
  EXPECT_EQ(read(1, 0), kSentinel);
}

TEST_F(WpsUpdate, AnyWpaOrWepDifferenceMarksNoDifferenceDoesNot) {
  using Change = void (*)(WpsConfigInfo &);
  const struct {
    int32_t kind, encryption, authentication;
    Change change;  // nullptr: unchanged
  } cases[] = {
      {3, 6, 2, [](WpsConfigInfo &n) { n.encryption = 4; }}, {3, 6, 2, [](WpsConfigInfo &n) { n.wpa_cipher = 2; }},
      {3, 6, 2, [](WpsConfigInfo &n) { n.wpa2_cipher = 1; }}, {3, 6, 2, [](WpsConfigInfo &n) { std::strcpy(n.psk, "k2"); }},
      {2, 1, 1, nullptr}, {2, 1, 1, [](WpsConfigInfo &n) { n.wep_option = 1; }},
      {2, 1, 1, [](WpsConfigInfo &n) { n.wep_key_option = 1; }}, {2, 1, 1, [](WpsConfigInfo &n) { n.wep64_keys[0][4] = 9; }},
      {2, 1, 1, [](WpsConfigInfo &n) { n.wep128_keys[3][12] = 9; }}, {2, 1, 1, [](WpsConfigInfo &n) { n.encryption = 0; }},
  };
  int i = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE("case " + std::to_string(i++));
    reset();
    for (WpsConfigInfo *r : {&was, &now}) {
      r->encryption = c.encryption, r->authentication = c.authentication, r->wpa_cipher = 1;
      std::strcpy(r->psk, "k");
      std::memset(r->wep128_keys, 0x41, sizeof r->wep128_keys);
    }
    if (c.change != nullptr) c.change(now);
    run(c.kind, c.kind == 2);
    EXPECT_EQ(read(1, 0), c.change ? "auth 77 enc 77 flag 99 conf 1 ssid old-ssid psk old-psk" : kSentinel);
    if (c.kind == 2) {
      std::string root = read(0, 0);
      EXPECT_EQ(root.substr(root.find("flag")),
                std::string("flag 0 conf ") + (c.change ? "1" : "0") + " ssid old-ssid psk old-psk");
    }
  }
}

}  // namespace
