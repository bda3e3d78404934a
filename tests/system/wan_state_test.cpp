// WAN connection state in the simulated router: the store chooses mode and type, the Ethernet
// and wireless drivers answer through the driver double, and the PPP marker, the DHCP client's
// pid file and the connection time are real files in the sandbox's private /etc and /var.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"
#include "tests/support/wireless_double.h"

namespace wd = wireless_double;

namespace {

using brim_test::run_shell;
using brim_test::write_file;

constexpr unsigned kDevPrivate = 0x89F0;
constexpr unsigned kBssInfo = SIOC_WL_BSS_INFO;

std::vector<uint8_t> bss(uint8_t state) {
  std::vector<uint8_t> r(44, 0);
  r[0] = state;
  return r;
}

class WanState : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    wd::reset();
    run_shell("rm -rf /etc/ppp /etc/udhcpc /var/wanconnect; ip addr flush dev eth1");
  }
  void TearDown() override {
    if (IsSkipped()) return;
    EXPECT_EQ(wd::violations(), std::vector<std::string>{}) << "a driver would have seen a bad request";
    wd::reset();
    run_shell("rm -rf /etc/ppp /etc/udhcpc /var/wanconnect; ip addr flush dev eth1");
  }
  void store(int mode, int type, int wisp = 0) {
    brim_test::use_store(brim_test::factory_store() + "\nOP_MODE = " + std::to_string(mode) +
                         "\nWAN_DHCP = " + std::to_string(type) + "\nWISP_WAN_ID = " + std::to_string(wisp) + "\n");
    ASSERT_NE(apmib_init(), 0);
  }
  // The wired WAN port's driver reports this link state.
  static void wan_port(int32_t state) { wd::declare_ethernet("eth1").link_state = state; }
  static void repeater(const char *ifname, uint8_t state) { wd::declare(ifname).bss_info = bss(state); }
  static void ppp_up() { ASSERT_EQ(run_shell("mkdir -p /etc/ppp && touch /etc/ppp/link").status, 0); }
  // A DHCP lease on eth1: an address on the interface and the client's pid file.
  static void dhcp_lease(const std::string &pid = "1234\n") {
    ASSERT_EQ(run_shell("ip addr add 10.77.0.2/24 dev eth1").status, 0);
    ASSERT_EQ(run_shell("mkdir -p /etc/udhcpc").status, 0);
    ASSERT_TRUE(write_file("/etc/udhcpc/udhcpc-eth1.pid", pid));
  }
  static void connect_time(const std::string &text) { ASSERT_TRUE(write_file("/var/wanconnect", text)); }
  static std::string linktime() {
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    buf[31] = '\0';
    getWanLinktime(buf);
    return buf;
  }
  static std::string connect_status() {
    char buf[16] = "unset";
    get_wan_connect_status(buf);
    return buf;
  }
};

// --- the Ethernet driver's request ---

TEST_F(WanState, LinkStateIsTheDriversWord) {
  wan_port(0);
  EXPECT_EQ(get_wan_link_status("eth1"), 0);
  wan_port(-2);
  EXPECT_EQ(get_wan_link_status("eth1"), -2);
  wan_port(1);
  EXPECT_EQ(get_wan_link_status("eth1"), 1);
  ASSERT_GE(wd::count("eth1", kDevPrivate), 3);
  for (const wd::Seen &s : wd::log()) {
    if (s.request != kDevPrivate) continue;
    EXPECT_EQ(s.domain, AF_INET);
    EXPECT_EQ(s.type, SOCK_DGRAM);
    EXPECT_TRUE(s.cloexec);
  }
}

TEST_F(WanState, FailedRequestsReadAsNoLink) {
  // The real kernel: a veth port has no such driver request.
  EXPECT_EQ(get_wan_link_status("eth1"), -1);
  EXPECT_EQ(get_wan_link_status("nosuch0"), -1);
  // The driver refusing it: never an unwritten word.
  wd::declare_ethernet("eth1").fail = EIO;
  EXPECT_EQ(get_wan_link_status("eth1"), -1);
  // A name that does not fit is refused before any request.
  wd::clear_log();
  EXPECT_EQ(get_wan_link_status("eth1-with-a-long-name"), -1);
  EXPECT_EQ(get_wan_link_status(nullptr), -1);
  EXPECT_EQ(wd::log().size(), 0u);
}

// --- gateway mode: the table by type, with the port's link asked first ---

TEST_F(WanState, StaticNeedsOnlyTheLink) {
  store(OPMODE_GATEWAY, WAN_STATIC);
  wan_port(0);
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(checkEthStatus(), 1);
  EXPECT_EQ(connect_status(), "connected");
  wan_port(-1);
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(checkEthStatus(), 0);
  EXPECT_EQ(connect_status(), "disconnected");
}

TEST_F(WanState, DhcpNeedsLinkAddressAndPidFile) {
  store(OPMODE_GATEWAY, WAN_DHCP);
  wan_port(0);
  EXPECT_EQ(isDhcpClientExist(), 0);
  EXPECT_EQ(checkWanStatus(), 0);  // link, but no lease
  ASSERT_EQ(run_shell("mkdir -p /etc/udhcpc && echo 1234 > /etc/udhcpc/udhcpc-eth1.pid").status, 0);
  EXPECT_EQ(isDhcpClientExist(), 0);  // a pid file without an address on eth1
  dhcp_lease();
  EXPECT_EQ(isDhcpClientExist(), 1);
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(checkEthStatus(), 1);
  wan_port(-1);
  EXPECT_EQ(checkWanStatus(), 0);  // the lease alone is not enough
  EXPECT_EQ(checkEthStatus(), 0);
}

TEST_F(WanState, DhcpPidFileContents) {
  store(OPMODE_GATEWAY, WAN_DHCP);
  dhcp_lease("0\n");
  EXPECT_EQ(isDhcpClientExist(), 0);
  ASSERT_TRUE(write_file("/etc/udhcpc/udhcpc-eth1.pid", ""));
  EXPECT_EQ(isDhcpClientExist(), 0);
  ASSERT_TRUE(write_file("/etc/udhcpc/udhcpc-eth1.pid", "-5\n"));
  EXPECT_EQ(isDhcpClientExist(), 0);
  // Whether the process still runs is not asked.
  ASSERT_TRUE(write_file("/etc/udhcpc/udhcpc-eth1.pid", "999999\n"));
  EXPECT_EQ(isDhcpClientExist(), 1);
}

TEST_F(WanState, PppTypesNeedTheMarkerAndTheLink) {
  for (int type : {WAN_PPPOE, WAN_PPTP, WAN_L2TP}) {
    SCOPED_TRACE(type);
    store(OPMODE_GATEWAY, type);
    run_shell("rm -rf /etc/ppp");
    wan_port(0);
    EXPECT_EQ(isConnectPPP(), 0);
    EXPECT_EQ(checkWanStatus(), 0);  // link but no PPP marker
    EXPECT_EQ(checkEthStatus(), 0);
    ppp_up();
    EXPECT_EQ(isConnectPPP(), 1);
    EXPECT_EQ(checkWanStatus(), 1);
    EXPECT_EQ(checkEthStatus(), 1);
    wan_port(-1);
    EXPECT_EQ(checkWanStatus(), 0);
  }
}

TEST_F(WanState, OtherTypesAreNeverUpButTheLinkIsStillAsked) {
  ppp_up();
  dhcp_lease();
  for (int type : {WAN_3G, 2, 99}) {
    SCOPED_TRACE(type);
    store(OPMODE_GATEWAY, type);
    wan_port(0);
    wd::clear_log();
    EXPECT_EQ(checkWanStatus(), 0);
    EXPECT_EQ(wd::count("eth1", kDevPrivate), 1);
    wd::clear_log();
    EXPECT_EQ(checkEthStatus(), 0);
    EXPECT_EQ(wd::count("eth1", kDevPrivate), 1);
  }
}

TEST_F(WanState, UnreadableItemsFallBackToGatewayModeAndTypeTwo) {
  brim_test::use_store(brim_test::factory_store() + "\n!OP_MODE = 2\n!WAN_DHCP = 0\n");
  ASSERT_NE(apmib_init(), 0);
  wan_port(0);
  wd::clear_log();
  EXPECT_EQ(checkWanStatus(), 0);  // mode 0, type 2: never up
  EXPECT_EQ(wd::count("eth1", kDevPrivate), 1);
  connect_time("61\n");
  EXPECT_EQ(linktime(), "0;0;1;1");
}

// --- the other modes ---

TEST_F(WanState, BridgeModeIsNeverUpForCheckWanStatus) {
  store(OPMODE_BRIDGE, WAN_DHCP);
  wan_port(0);
  dhcp_lease();
  connect_time("3661\n");
  wd::clear_log();
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(linktime(), "0;0;0;0");
  EXPECT_EQ(wd::count("eth1", kDevPrivate), 0);  // the port is not asked in this mode
  // checkEthStatus asks only the DHCP client there.
  EXPECT_EQ(checkEthStatus(), 1);
  run_shell("rm -rf /etc/udhcpc");
  EXPECT_EQ(checkEthStatus(), 0);
}

TEST_F(WanState, WirelessWanUsesTheRepeaterOfItem193) {
  store(OPMODE_WIRELESS_WAN, WAN_STATIC, 1);
  repeater("wlan0-vxd", 4);
  repeater("wlan1-vxd", 3);
  wd::clear_log();
  EXPECT_EQ(checkWanStatus(), 0);  // only wlan1-vxd counts, and it is not connected
  EXPECT_EQ(wd::count("wlan1-vxd", kBssInfo), 1);
  EXPECT_EQ(wd::count("wlan0-vxd", kBssInfo), 0);
  // ...but the link time takes either radio.
  connect_time("3661\n");
  EXPECT_EQ(linktime(), "0;1;1;1");

  repeater("wlan1-vxd", 4);
  EXPECT_EQ(checkWanStatus(), 1);
  store(OPMODE_WIRELESS_WAN, WAN_STATIC, 0);
  repeater("wlan0-vxd", 2);
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(linktime(), "0;1;1;1");  // wlan1-vxd still connected
  repeater("wlan1-vxd", 0);
  EXPECT_EQ(linktime(), "0;0;0;0");
}

TEST_F(WanState, WirelessWanTableByType) {
  store(OPMODE_WIRELESS_WAN, WAN_DHCP, 0);
  repeater("wlan0-vxd", 4);
  EXPECT_EQ(checkWanStatus(), 0);  // no lease on wlan0-vxd
  store(OPMODE_WIRELESS_WAN, WAN_PPPOE, 0);
  EXPECT_EQ(checkWanStatus(), 0);
  ppp_up();
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(connect_status(), "connected");
  store(OPMODE_WIRELESS_WAN, WAN_3G, 0);
  wd::clear_log();
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(wd::count("wlan0-vxd", kBssInfo), 1);  // asked all the same
  // A repeater the driver cannot answer for is not connected.
  store(OPMODE_WIRELESS_WAN, WAN_PPPOE, 0);
  wd::reset();
  EXPECT_EQ(checkWanStatus(), 0);
}

// --- the link time ---

TEST_F(WanState, LinkTimeCountsWholeDays) {
  store(OPMODE_GATEWAY, WAN_STATIC);
  wan_port(0);
  connect_time("3661\n");
  EXPECT_EQ(linktime(), "0;1;1;1");
  connect_time("86400\n");
  EXPECT_EQ(linktime(), "1;0;0;0");
  connect_time("90061 seconds\n");
  EXPECT_EQ(linktime(), "1;1;1;1");
  connect_time("4294967295\n");  // beyond int: saturates at INT32_MAX seconds
  EXPECT_EQ(linktime(), "24855;3;14;7");
  connect_time("");
  EXPECT_EQ(linktime(), "0;0;0;0");
  connect_time("junk");
  EXPECT_EQ(linktime(), "0;0;0;0");
  connect_time("-1\n");  // taken as unsigned
  EXPECT_EQ(linktime(), "49710;6;28;15");
}

TEST_F(WanState, LinkStateOneCountsForStatusButNotForTime) {
  store(OPMODE_GATEWAY, WAN_STATIC);
  wan_port(1);
  connect_time("3661\n");
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(checkEthStatus(), 1);
  EXPECT_EQ(linktime(), "0;0;0;0");
  wan_port(0);
  EXPECT_EQ(linktime(), "0;1;1;1");
}

TEST_F(WanState, MissingTimeFileLeavesTheBufferAlone) {
  store(OPMODE_GATEWAY, WAN_STATIC);
  wan_port(0);
  char buf[16] = "untouched";
  testing::internal::CaptureStdout();
  getWanLinktime(buf);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "open file error\n");
  EXPECT_STREQ(buf, "untouched");
  // Down: the text is written without the file being needed.
  wan_port(-1);
  getWanLinktime(buf);
  EXPECT_STREQ(buf, "0;0;0;0");
}

TEST_F(WanState, ConnectStatusFollowsCheckWanStatus) {
  for (int type : {WAN_STATIC, WAN_DHCP, WAN_PPPOE, WAN_3G}) {
    for (int32_t link : {0, -1}) {
      store(OPMODE_GATEWAY, type);
      wan_port(link);
      EXPECT_EQ(connect_status(), checkWanStatus() == 1 ? "connected" : "disconnected") << type << " " << link;
    }
  }
}

}  // namespace
