// The router with an upstream: brim-sandbox --isp plugs eth1 into an ISP's bridge in another
// network namespace, where dnsmasq hands out leases, and the firmware's DHCP client (busybox
// udhcpc) has one before the tests start. The WAN state functions then see a real lease, its
// route and name server, the link from eth1's carrier, and a counting connection time; a cable
// pulled at the ISP's end or a lease given back is no connection. Run by ctest as system_isp.
#include <signal.h>

#include <cstring>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;
constexpr const char *kGateway = "100.64.0.1";  // the ISP's router and name server (sandbox/brim-isp)

int seconds(const std::string &t) {  // of a link time text "d;h;m;s"
  int d, h, m, s;
  return std::sscanf(t.c_str(), "%d;%d;%d;%d", &d, &h, &m, &s) == 4 ? (d * 24 + h) * 3600 + m * 60 + s : -1;
}
int wanconnect() { return std::atoi(read_file("/var/wanconnect").c_str()); }

class Isp : public SandboxTest {
 protected:
  void prepare() override {
    if (std::getenv("BRIM_ISP_NETNS") == nullptr) GTEST_SKIP() << "needs an ISP: brim-sandbox --isp";
    ASSERT_NE(apmib_init(), 0);  // the factory store: gateway mode, DHCP WAN
  }
};

TEST_F(Isp, TheBootsRouterHasALeaseAndItsTimeCounts) {
  const std::string ip = getWanIp();
  ASSERT_EQ(ip.rfind("100.64.", 0), 0u) << ip;
  EXPECT_STREQ(getWanGateway(), kGateway);  // what came with it: the default route and name server
  char gw[16] = {};
  getRealGateway(gw);
  EXPECT_STREQ(gw, kGateway);
  EXPECT_STREQ(getDns(1), kGateway);
  EXPECT_STREQ(getDns(2), "0.0.0.0");
  const int pid = getPid("/etc/udhcpc/udhcpc-eth1.pid");  // names the running udhcpc
  ASSERT_GT(pid, 0);
  EXPECT_EQ(read_file("/proc/" + std::to_string(pid) + "/comm"), "udhcpc\n");
  EXPECT_EQ(isDhcpClientExist(), 1);
  EXPECT_EQ(get_wan_link_status("eth1"), 0);
  EXPECT_EQ(checkEthStatus(), 1);
  EXPECT_EQ(connect_status(), "connected");
  const int first = seconds(linktime());
  ASSERT_GE(first, 0) << linktime();
  EXPECT_TRUE(wait_until([first] { return seconds(linktime()) > first; }, 5000));  // it moves on once a second
}

// The status module's reply through the booted subscriber, as a management client sees it.
TEST_F(Isp, StatusReplyShowsTheConnectedWan) {
  boot_router("", "/tmp/brim_isp_boot.out");
  Client client;
  ASSERT_TRUE(client.connect(1883));
  ASSERT_TRUE(client.subscribe("router/status/R"));
  // The subscriber may not have subscribed yet right after the boot: ask again now and then.
  for (int i = 0; i < 250 && client.received().empty(); ++i) {
    if (i % 10 == 0) ASSERT_EQ(mosquitto_publish(client.handle(), nullptr, "router/status", 2, "{}", 0, false), 0);
    client.serve_a_little();
  }
  ASSERT_FALSE(client.received().empty());
  const std::string reply = client.received().front().payload;
  EXPECT_EQ(json_text(reply, "wan_if"), "eth1");
  EXPECT_EQ(json_text(reply, "wan_ip"), getWanIp());
  EXPECT_EQ(json_text(reply, "wan_gateway"), kGateway);
  EXPECT_GE(seconds(json_text(reply, "wan_link_time")), 1) << reply;
  cJSON *o = cJSON_Parse(reply.c_str());
  EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItem(o, "wan_connected"))) << reply;
  cJSON *dns = cJSON_GetObjectItem(o, "dns");
  EXPECT_EQ(cJSON_GetArraySize(dns), 1) << reply;
  EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetArrayItem(dns, 0)), kGateway);
  cJSON_Delete(o);
  EXPECT_EQ(read_file("/tmp/brim_isp_boot.out"), "");  // every status request's driver ask answered
  run_shell("killall brim_sub vz_daemon vz_broker 2>/dev/null; rm -f /tmp/brim_isp_boot.out");
}

// The ISP's end of the cable going down is no link: not connected, no time; back up, link and
// connection again, the time counting from 0 once more.
TEST_F(Isp, FarEndDownIsNoLinkAndBackUpIsLinkAgain) {
  const std::string ip = getWanIp(), port = "nsenter --net=\"$BRIM_ISP_NETNS\" ip link set \"$BRIM_ISP_PORT\" ";
  ASSERT_TRUE(wait_until([] { return wanconnect() >= 1; })) << "the connection time does not count";
  BRIM_SH(port + "down");
  EXPECT_LT(get_wan_link_status("eth1"), 0);
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(linktime(), "0;0;0;0");
  EXPECT_TRUE(wait_until([] { return wanconnect() == 0; })) << "the connection time was not stopped";
  BRIM_SH(port + "up");
  EXPECT_EQ(connect_status(), "connected");
  EXPECT_TRUE(wait_until([] { return wanconnect() >= 1; })) << "the connection time did not count again";
  EXPECT_EQ(getWanIp(), ip);  // the same lease, renewed
}

// A lease given back (SIGUSR2) is no connection: the address and route go and the time stops.
// Asked for again (SIGUSR1), a lease comes back and the time starts from 0.
TEST_F(Isp, ReleasedLeaseIsNoConnectionUntilTheNextOne) {
  const int pid = getPid("/etc/udhcpc/udhcpc-eth1.pid");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGUSR2), 0);
  ASSERT_TRUE(wait_until([] { return isDhcpClientExist() == 0; })) << "the address stayed";
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_STREQ(getWanGateway(), "0.0.0.0");
  EXPECT_EQ(get_wan_link_status("eth1"), 0);  // the cable is still in
  EXPECT_EQ(connect_status(), "disconnected");
  EXPECT_EQ(wanconnect(), 0);
  ASSERT_EQ(kill(pid, SIGUSR1), 0);
  // The client's script sets the address first, then the route.
  ASSERT_TRUE(wait_until([] { return std::strcmp(getWanGateway(), kGateway) == 0; }, 20000)) << "no new lease";
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_LE(wanconnect(), 1);
}

}  // namespace
