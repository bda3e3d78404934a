// Values the library reads from the store stand-in: configuration arrays and the WAN settings.

#include "tests/support/store_file.h"
#include "tests/unit/unit.h"

namespace {

std::string print(cJSON *o) {
  char *p = cJSON_PrintUnformatted(o);
  std::string s = p ? p : "";
  cJSON_free(p);
  return s;
}

TEST(CfgArray, AddressesTextsAndIntegersAreAppendedAsMembers) {
  brim_test::StoreFile store;
  ASSERT_TRUE(store.load("IP_ADDR = 192.168.0.1\nSUBNET_MASK = 255.255.255.0\n!WAN_DEFAULT_GATEWAY = 10.0.0.1\n"
                         "HOST_NAME = \"brim \\\"router\\\"\"\nWEB_LANGUAGE = \"en\"\n!SUPER_PASSWORD = \"secret\"\n"
                         "OP_MODE = 2\nDHCP = -5\n!WISP_WAN_ID = 1\n"));
  // The unreadable gateway does not repeat the LAN address read before it.
  const char *ip_names[] = {"lan_ip", "gw", "mask"}, *str_names[] = {"host", "pw", "lang"};
  const int32_t ip_ids[] = {170, 103, 171}, str_ids[] = {198, 18067, 6002};
  for (auto [fill, names, ids, json] : {std::tuple{&getCfgArrayIP, ip_names, ip_ids, R"({"lan_ip":"192.168.0.1","gw":"0.0.0.0","mask":"255.255.255.0"})"},
                                        {&getCfgArrayStr, str_names, str_ids, R"({"host":"brim \"router\"","pw":"","lang":"en"})"}}) {
    cJSON *o = cJSON_CreateObject();
    EXPECT_EQ(fill(o, 3, names, ids), 0);
    EXPECT_EQ(print(o), json);
    cJSON_Delete(o);
  }
  // A failed integer read repeats the previous value (0 at first); members are never replaced.
  cJSON *o = cJSON_CreateObject();
  cJSON_AddStringToObject(o, "mode", "old");
  const char *int_names[] = {"bad_first", "mode", "wisp", "dhcp"};
  const int32_t int_ids[] = {193, 192, 193, 173};
  EXPECT_EQ(getCfgArrayInt(o, 4, int_names, int_ids), 0);
  EXPECT_EQ(print(o), R"({"mode":"old","bad_first":0,"mode":2,"wisp":2,"dhcp":-5})");
  cJSON_Delete(o);

  // A handler's table naming a 128-byte text item for an address or an integer: each reader takes
  // what its type holds, and nothing past its own buffer (checked under ASan).
  const std::string longest(127, 'a');
  ASSERT_TRUE(store.load("CLOUD_ADDRESSES = \"" + longest + "\"\n"));
  const char *text_name[] = {"t"};
  const int32_t text_id[] = {30001};
  o = cJSON_CreateObject();
  EXPECT_EQ(getCfgArrayIP(o, 1, text_name, text_id) | getCfgArrayInt(o, 1, text_name, text_id) |
            getCfgArrayStr(o, 1, text_name, text_id), 0);
  EXPECT_EQ(print(o), R"({"t":"97.97.97.97","t":1633771873,"t":")" + longest + "\"}");
  cJSON_Delete(o);

  o = cJSON_CreateObject();
  for (int32_t count : {0, -1, -2147483647 - 1})
    EXPECT_EQ(getCfgArrayIP(o, count, int_names, int_ids) | getCfgArrayStr(o, count, int_names, int_ids) |
              getCfgArrayInt(o, count, int_names, int_ids), 0);
  // A missing name cannot become a member; it must not leak either (checked under ASan).
  const char *no_name[] = {nullptr};
  EXPECT_EQ(getCfgArrayStr(o, 1, no_name, int_ids) | getCfgArrayInt(nullptr, 1, int_names, int_ids), 0);
  EXPECT_EQ(print(o), "{}");
  cJSON_Delete(o);
}

std::string store_text(int wan_type, int op_mode, int wisp_id) {
  return "WAN_DHCP = " + std::to_string(wan_type) + "\nOP_MODE = " + std::to_string(op_mode) +
         "\nWISP_WAN_ID = " + std::to_string(wisp_id) + "\nDHCP = 2\n";
}

std::string wan_if_name() { char name[32] = {}; getWanIfName(name); return name; }

TEST(WanSettings, InterfaceNameFollowsTheDecisionTable) {
  const struct {
    int wan_type, op_mode, wisp_id;
    const char *ifname;
  } rows[] = {
      // The PPP types win in every mode, wireless WAN included.
      {WAN_PPPOE, OPMODE_GATEWAY, 0, "ppp0"}, {WAN_PPTP, OPMODE_BRIDGE, 0, "ppp0"},
      {WAN_L2TP, OPMODE_WIRELESS_WAN, 1, "ppp0"}, {WAN_3G, OPMODE_WIRELESS_WAN, 0, "ppp0"},
      {WAN_3G, OPMODE_GATEWAY, 0, "ppp0"},
      // Otherwise mode 2 names the repeater interface of the radio in item 193, printed as stored.
      {WAN_DHCP, OPMODE_WIRELESS_WAN, 1, "wlan1-vxd"}, {WAN_STATIC, OPMODE_WIRELESS_WAN, 0, "wlan0-vxd"},
      {2, OPMODE_WIRELESS_WAN, 1, "wlan1-vxd"}, {WAN_DHCP, OPMODE_WIRELESS_WAN, -2147483647 - 1, "wlan-2147483648-vxd"},
      // Everything else is the wired WAN port.
      {WAN_DHCP, OPMODE_GATEWAY, 1, "eth1"}, {WAN_STATIC, OPMODE_BRIDGE, 0, "eth1"}, {2, OPMODE_GATEWAY, 0, "eth1"},
      {2, OPMODE_BRIDGE, 1, "eth1"}, {WAN_DHCP, 7, 1, "eth1"}};
  for (const auto &r : rows) {
    brim_test::StoreFile store;
    ASSERT_TRUE(store.load(store_text(r.wan_type, r.op_mode, r.wisp_id)));
    EXPECT_EQ(wan_if_name(), r.ifname) << r.wan_type << " " << r.op_mode << " " << r.wisp_id;
  }
  // Each unreadable item leaves the buffer untouched: 193 alone failing must stop the answer too.
  for (const char *text : {"!WAN_DHCP = 1\nOP_MODE = 2\nWISP_WAN_ID = 1\n", "WAN_DHCP = 1\n!OP_MODE = 2\n",
                           "WAN_DHCP = 1\nOP_MODE = 2\n!WISP_WAN_ID = 0\n", "WAN_DHCP = 3\nOP_MODE = 0\n!WISP_WAN_ID = 0\n"}) {
    brim_test::StoreFile store;
    ASSERT_TRUE(store.load(text));
    char name[32];
    std::memset(name, '#', sizeof name);
    getWanIfName(name);
    EXPECT_EQ(std::string(name, sizeof name), std::string(sizeof name, '#')) << text;
  }
}

TEST(WanSettings, ConnectModeTextOfEachKnownTypeAndNothingForOthers) {
  for (auto [type, text] : {std::pair<int, const char *>{WAN_STATIC, "STATIC"}, {WAN_DHCP, "DHCP"}, {WAN_PPPOE, "PPPOE"},
                            {WAN_PPTP, "PPTP"}, {WAN_L2TP, "L2TP"}, {WAN_3G, "3G"}, {2, "keepme"}, {5, "keepme"}, {17, "keepme"}, {-1, "keepme"}}) {
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
  EXPECT_EQ(getOperationMode() * 100 + getDhcp(), OPMODE_BRIDGE * 100 + 2);
  int32_t mode = OPMODE_WIRELESS_WAN, dhcp = 17, pppoe = WAN_PPPOE;
  apmib_set(192, &mode);
  apmib_set(173, &dhcp);
  EXPECT_EQ(getOperationMode() * 100 + getDhcp(), OPMODE_WIRELESS_WAN * 100 + 17);  // passed on as stored
  apmib_set(104, &pppoe);
  EXPECT_EQ(wan_if_name(), "ppp0");
}

}  // namespace
