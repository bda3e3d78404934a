// WAN connection state in the simulated router: the store chooses mode and type, the Ethernet
// and wireless drivers answer through the driver double, and the PPP marker, the DHCP client's
// pid file and the connection time are real files in the sandbox's private /etc and /var. A port
// the double was not told about is answered by the router's own Ethernet driver, from its carrier.
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"
#include "tests/support/wireless_double.h"

namespace wd = wireless_double;

namespace {

using namespace brim_test;
constexpr unsigned kDevPrivate = 0x89F0, kBssInfo = SIOC_WL_BSS_INFO;

class WanState : public SandboxTest {
 protected:
  void prepare() override { clean(); }
  void cleanup() override {
    EXPECT_EQ(wd::violations(), std::vector<std::string>{}) << "a driver would have seen a bad request";
    clean();
  }
  static void clean() {  // the sandbox's WAN: no lease, not connected, eth1 and its peer up
    wd::reset();
    run_shell("rm -rf /etc/ppp /etc/udhcpc; echo 0 > /var/wanconnect; ip addr flush dev eth1; "
              "ip link set eth1 up; ip link set eth1-peer up");
  }
  static void store(int mode, int type, int wisp = 0) {
    load_store((testing::Message() << "OP_MODE = " << mode << "\nWAN_DHCP = " << type << "\nWISP_WAN_ID = " << wisp).GetString());
  }
  static void wan_port(int32_t state) { wd::declare_ethernet("eth1").link_state = state; }
  static void repeater(const char *ifname, uint8_t state) {
    wd::Radio &r = wd::declare(ifname);
    r.bss_info.assign(44, 0);
    r.bss_info[0] = state;
  }
  static void ppp_up() { BRIM_SH("mkdir -p /etc/ppp && touch /etc/ppp/link"); }
  static void dhcp_lease() {  // an address on eth1 and the client's pid file
    BRIM_SH("ip addr add 10.77.0.2/24 dev eth1 && mkdir -p /etc/udhcpc && echo 1234 >/etc/udhcpc/udhcpc-eth1.pid");
  }
  static void connect_time(const std::string &text) { ASSERT_TRUE(write_file("/var/wanconnect", text)); }
};

TEST_F(WanState, LinkStateIsTheDriversWordAndFailuresReadAsNoLink) {
  for (int32_t state : {0, -2, 1}) {
    wan_port(state);
    EXPECT_EQ(get_wan_link_status("eth1"), state);
  }
  for (const wd::Seen &s : wd::log())
    if (s.request == kDevPrivate) EXPECT_TRUE(s.domain == AF_INET && s.type == SOCK_DGRAM && s.cloexec);
  // The kernel: a bridge has no such driver request; a port that does not exist, none at all.
  for (const char *name : {"br0", "nosuch0"}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_wan_link_status(name), -1) << name;
    EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("device ioctl:: ", 0), 0u) << name;
  }
  wd::declare_ethernet("eth1").fail = EIO;  // the driver refusing it: never an unwritten word
  EXPECT_EQ(get_wan_link_status("eth1"), -1);
  wd::clear_log();  // a name that does not fit is refused before any request
  EXPECT_EQ(get_wan_link_status("eth1-with-a-long-name"), -1);
  EXPECT_EQ(get_wan_link_status(nullptr), -1);
  EXPECT_EQ(wd::log().size(), 0u);
}

// The router's driver, beneath the double: the link follows the veth's carrier.
TEST_F(WanState, RoutersDriverAnswersFromTheCarrier) {
  for (const auto &[cmd, link] : {std::pair{"true", 0}, {"ip link set eth1-peer down", -1}, {"ip link set eth1-peer up", 0},
                                  {"ip link set eth1 down", -1}}) {
    ASSERT_EQ(run_shell(cmd).status, 0) << cmd;
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_wan_link_status("eth1"), link) << cmd;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << cmd;
  }
  for (const wd::Seen &s : wd::log()) EXPECT_FALSE(s.wireless) << "answered by the double, not the driver";
  EXPECT_EQ(wd::count("eth1", kDevPrivate), 4);
}

// Gateway mode by type, the port's link asked first and once.
TEST_F(WanState, GatewayModeTableByType) {
  const struct {
    int type;
    int32_t link;
    bool ppp, lease;
    int up;
  } rows[] = {
      {WAN_STATIC, 0, false, false, 1}, {WAN_STATIC, 1, false, false, 1}, {WAN_STATIC, -1, true, true, 0},
      {WAN_DHCP, 0, false, false, 0},   {WAN_DHCP, 0, true, true, 1},     {WAN_DHCP, -1, true, true, 0},
      {WAN_PPPOE, 0, false, true, 0},   {WAN_PPPOE, 0, true, false, 1},   {WAN_PPTP, 0, false, true, 0},
      {WAN_PPTP, 0, true, false, 1},    {WAN_L2TP, 0, false, true, 0},    {WAN_L2TP, 0, true, false, 1},
      {WAN_L2TP, -1, true, true, 0},    {WAN_3G, 0, true, true, 0},       {99, 0, true, true, 0},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << "type " << row.type << " link " << row.link << " ppp " << row.ppp << " lease "
                                    << row.lease);
    run_shell("rm -rf /etc/ppp /etc/udhcpc; ip addr flush dev eth1");
    store(OPMODE_GATEWAY, row.type);
    wan_port(row.link);
    if (row.ppp) ppp_up();
    if (row.lease) dhcp_lease();
    EXPECT_EQ(isConnectPPP(), row.ppp ? 1 : 0);
    if (row.type == WAN_DHCP) EXPECT_EQ(isDhcpClientExist(), row.lease ? 1 : 0);
    wd::clear_log();
    EXPECT_EQ(checkWanStatus(), row.up);
    EXPECT_EQ(wd::count("eth1", kDevPrivate), 1) << "the link is asked once, whatever the type";
    EXPECT_EQ(checkEthStatus(), row.up);
    EXPECT_EQ(connect_status(), row.up ? "connected" : "disconnected");
  }
  for (const char *pid : {"0\n", "", "-5\n", "999999\n"}) {  // a positive pid; whether it still runs is not asked
    ASSERT_TRUE(write_file("/etc/udhcpc/udhcpc-eth1.pid", pid));
    EXPECT_EQ(isDhcpClientExist(), pid[0] == '9' ? 1 : 0) << pid;
  }
  BRIM_SH("ip addr flush dev eth1");
  EXPECT_EQ(isDhcpClientExist(), 0) << "a pid file without an address on eth1";
}

TEST_F(WanState, UnreadableItemsFallBackToGatewayModeTypeTwoAndBridgeModeIsNeverUp) {
  load_store("!OP_MODE = 2\n!WAN_DHCP = 0\n");
  wan_port(0);
  wd::clear_log();
  EXPECT_EQ(checkWanStatus(), 0);  // mode 0, type 2: never up
  EXPECT_EQ(wd::count("eth1", kDevPrivate), 1);
  connect_time("61\n");
  EXPECT_EQ(linktime(), "0;0;1;1");
  store(OPMODE_BRIDGE, WAN_DHCP);
  dhcp_lease();
  connect_time("3661\n");
  wd::clear_log();
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(linktime(), "0;0;0;0");
  EXPECT_EQ(wd::count("eth1", kDevPrivate), 0);  // the port is not asked in this mode
  EXPECT_EQ(checkEthStatus(), 1);                // only the DHCP client is
  run_shell("rm -rf /etc/udhcpc");
  EXPECT_EQ(checkEthStatus(), 0);
}

// The same table with the repeater of item 193 connected (state 4) as the link; the link time
// takes either radio's repeater.
TEST_F(WanState, WirelessWanUsesTheRepeaterOfItem193) {
  const struct {
    int type, wisp;
    uint8_t wlan0_vxd, wlan1_vxd;
    bool ppp;
    int up;
    const char *time;
  } rows[] = {
      {WAN_STATIC, 1, 4, 3, false, 0, "0;1;1;1"}, {WAN_STATIC, 1, 3, 4, false, 1, "0;1;1;1"},
      {WAN_STATIC, 0, 2, 4, false, 0, "0;1;1;1"}, {WAN_STATIC, 0, 2, 0, false, 0, "0;0;0;0"},
      {WAN_DHCP, 0, 4, 0, false, 0, "0;1;1;1"},  // no lease on wlan0-vxd
      {WAN_PPPOE, 0, 4, 0, false, 0, "0;1;1;1"}, {WAN_PPPOE, 0, 4, 0, true, 1, "0;1;1;1"},
      {WAN_3G, 0, 4, 0, true, 0, "0;1;1;1"},
  };
  connect_time("3661\n");
  for (const auto &row : rows) {
    SCOPED_TRACE(testing::Message() << "type " << row.type << " repeater " << row.wisp << " states " << +row.wlan0_vxd << ","
                                    << +row.wlan1_vxd << " ppp " << row.ppp);
    run_shell("rm -rf /etc/ppp");
    if (row.ppp) ppp_up();
    store(OPMODE_WIRELESS_WAN, row.type, row.wisp);
    repeater("wlan0-vxd", row.wlan0_vxd);
    repeater("wlan1-vxd", row.wlan1_vxd);
    wd::clear_log();
    EXPECT_EQ(checkWanStatus(), row.up);
    EXPECT_EQ(wd::count(row.wisp ? "wlan1-vxd" : "wlan0-vxd", kBssInfo), 1) << "asked whatever the type";
    EXPECT_EQ(wd::count(row.wisp ? "wlan0-vxd" : "wlan1-vxd", kBssInfo), 0);
    EXPECT_EQ(connect_status(), row.up ? "connected" : "disconnected");
    EXPECT_EQ(linktime(), row.time);
  }
  wd::reset();  // a repeater the driver cannot answer for is not connected
  EXPECT_EQ(checkWanStatus(), 0);
}

TEST_F(WanState, LinkTimeCountsWholeDays) {
  store(OPMODE_GATEWAY, WAN_STATIC);
  const struct {
    int32_t link;
    const char *text, *want;
  } rows[] = {
      {0, "3661\n", "0;1;1;1"}, {0, "90061 seconds\n", "1;1;1;1"}, {0, "-1\n", "9;23;59;59"},  // taken as unsigned: past 10 days
      {0, "", "0;0;0;0"}, {0, "junk", "0;0;0;0"},
      {1, "3661\n", "0;0;0;0"}, {-1, "3661\n", "0;0;0;0"},  // link state 1 counts for the status, not for the time
  };
  for (const auto &row : rows) {
    wan_port(row.link);
    connect_time(row.text);
    EXPECT_EQ(linktime(), row.want) << row.link << " " << row.text;
  }
  wan_port(0);  // a missing time file leaves the buffer alone
  ASSERT_EQ(unlink("/var/wanconnect"), 0);
  char buf[16] = "untouched";
  testing::internal::CaptureStdout();
  getWanLinktime(buf);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "open file error\n");
  EXPECT_STREQ(buf, "untouched");
  wan_port(-1);  // down: written without the file
  getWanLinktime(buf);
  EXPECT_STREQ(buf, "0;0;0;0");
}

}  // namespace
