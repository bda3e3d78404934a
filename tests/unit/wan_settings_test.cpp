#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "brimlib.h"
#include "tests/support/store_file.h"

namespace {

std::string store_text(int wan_type, int op_mode, int wisp_id) {
  return "WAN_DHCP = " + std::to_string(wan_type) + "\nOP_MODE = " + std::to_string(op_mode) +
         "\nWISP_WAN_ID = " + std::to_string(wisp_id) + "\nDHCP = 2\n";
}

std::string wan_if_name() {
  char name[32];
  std::memset(name, 0, sizeof name);
  getWanIfName(name);
  return name;
}

struct Row {
  int wan_type, op_mode, wisp_id;
  const char *ifname;
};

class WanIfName : public ::testing::TestWithParam<Row> {};

TEST_P(WanIfName, FollowsTheDecisionTable) {
  const Row &r = GetParam();
  brim_test::StoreFile store;
  ASSERT_TRUE(store.load(store_text(r.wan_type, r.op_mode, r.wisp_id)));
  EXPECT_EQ(wan_if_name(), r.ifname);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WanIfName,
    ::testing::Values(
        // The PPP types win in every mode, wireless WAN included.
        Row{WAN_PPPOE, OPMODE_GATEWAY, 0, "ppp0"}, Row{WAN_PPTP, OPMODE_BRIDGE, 0, "ppp0"},
        Row{WAN_L2TP, OPMODE_WIRELESS_WAN, 1, "ppp0"}, Row{WAN_3G, OPMODE_WIRELESS_WAN, 0, "ppp0"},
        Row{WAN_3G, OPMODE_GATEWAY, 0, "ppp0"},
        // Otherwise mode 2 names the repeater interface of the radio in item 193.
        Row{WAN_DHCP, OPMODE_WIRELESS_WAN, 1, "wlan1-vxd"}, Row{WAN_STATIC, OPMODE_WIRELESS_WAN, 0, "wlan0-vxd"},
        Row{2, OPMODE_WIRELESS_WAN, 1, "wlan1-vxd"},
        // The index is printed as stored, without a range check.
        Row{WAN_DHCP, OPMODE_WIRELESS_WAN, -2147483647 - 1, "wlan-2147483648-vxd"},
        // Everything else is the wired WAN port.
        Row{WAN_DHCP, OPMODE_GATEWAY, 1, "eth1"}, Row{WAN_STATIC, OPMODE_BRIDGE, 0, "eth1"},
        Row{2, OPMODE_GATEWAY, 0, "eth1"}, Row{2, OPMODE_BRIDGE, 1, "eth1"}, Row{WAN_DHCP, 7, 1, "eth1"}));

TEST(WanIfNameFailedRead, EachUnreadableItemLeavesTheBufferUntouched) {
  const char *stores[] = {
      "!WAN_DHCP = 1\nOP_MODE = 2\nWISP_WAN_ID = 1\n",
      "WAN_DHCP = 1\n!OP_MODE = 2\nWISP_WAN_ID = 1\n",
      // 104 and 192 read fine; only 193 fails, and that alone must stop the answer.
      "WAN_DHCP = 1\nOP_MODE = 2\n!WISP_WAN_ID = 0\n",
      "WAN_DHCP = 3\nOP_MODE = 0\n!WISP_WAN_ID = 0\n",
  };
  for (const char *text : stores) {
    brim_test::StoreFile store;
    ASSERT_TRUE(store.load(text));
    char name[32];
    std::memset(name, '#', sizeof name);
    getWanIfName(name);
    for (char c : name) ASSERT_EQ(c, '#') << text;
  }
}

TEST(WanConnectMode, WritesTheTextOfEachKnownTypeAndNothingForOthers) {
  const std::pair<int, const char *> cases[] = {{WAN_STATIC, "STATIC"}, {WAN_DHCP, "DHCP"}, {WAN_PPPOE, "PPPOE"},
                                                {WAN_PPTP, "PPTP"},     {WAN_L2TP, "L2TP"}, {WAN_3G, "3G"},
                                                {2, "keepme"},          {5, "keepme"},      {17, "keepme"},
                                                {-1, "keepme"}};
  for (auto [type, text] : cases) {
    brim_test::StoreFile store;
    ASSERT_TRUE(store.load(store_text(type, 0, 0)));
    char buf[7] = {'k', 'e', 'e', 'p', 'm', 'e', 0};  // "DHCP" etc. must come with their terminator
    getWanConnectMode(buf);
    EXPECT_STREQ(buf, text) << type;
  }
}

TEST(WanSettings, ModeAndDhcpAreReadAfreshOnEveryCall) {
  brim_test::StoreFile store;
  ASSERT_TRUE(store.load(store_text(WAN_DHCP, OPMODE_BRIDGE, 0)));
  EXPECT_EQ(getOperationMode(), OPMODE_BRIDGE);
  EXPECT_EQ(getDhcp(), 2);
  int32_t mode = OPMODE_WIRELESS_WAN, dhcp = 17;
  apmib_set(192, &mode);
  apmib_set(173, &dhcp);
  EXPECT_EQ(getOperationMode(), OPMODE_WIRELESS_WAN);
  EXPECT_EQ(getDhcp(), 17);  // passed on as stored
  int32_t pppoe = WAN_PPPOE;
  apmib_set(104, &pppoe);
  EXPECT_EQ(wan_if_name(), "ppp0");
}

}  // namespace
