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

std::string linktime() {
  char buf[32] = "unset";
  getWanLinktime(buf);
  return buf;
}
int seconds(const std::string &t) {  // of a link time text "d;h;m;s"
  int d, h, m, s;
  return std::sscanf(t.c_str(), "%d;%d;%d;%d", &d, &h, &m, &s) == 4 ? (d * 24 + h) * 3600 + m * 60 + s : -1;
}
std::string connect_status() {
  char buf[16] = "unset";
  get_wan_connect_status(buf);
  return buf;
}
int wanconnect() { return std::atoi(read_file("/var/wanconnect").c_str()); }
bool isp_port(const char *what) {  // eth1's peer, in the ISP's network namespace
  return run_shell(std::string("nsenter --net=\"$BRIM_ISP_NETNS\" ip link set \"$BRIM_ISP_PORT\" ") + what).status == 0;
}

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
  EXPECT_NE(run_shell("ip -4 -o addr show dev eth1").output.find(" " + ip + "/22 "), std::string::npos);
  const std::string mac = trimmed(read_file("/sys/class/net/eth1/address"));
  EXPECT_NE(read_file("/var/run/isp/dnsmasq.leases").find(" " + mac + " " + ip + " "), std::string::npos) << mac;
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
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(checkEthStatus(), 1);
  EXPECT_EQ(connect_status(), "connected");
  const int first = seconds(linktime());
  ASSERT_GE(first, 0) << linktime();
  EXPECT_TRUE(wait_until([first] { return seconds(linktime()) > first; }, 3000));  // it moves on once a second
}

// The status module's reply through the booted subscriber, as a management client sees it.
TEST_F(Isp, StatusReplyShowsTheConnectedWan) {
  run_shell("killall vz_broker 2>/dev/null");
  ASSERT_TRUE(wait_for_process("vz_broker", false));
  CmdResult boot = run_shell("unset BRIM_MQTT_PORT BRIM_VZ_SUB_FAIL; brim_init >/tmp/brim_isp_boot.out 2>&1");
  ASSERT_EQ(boot.status, 0) << boot.output;
  ASSERT_TRUE(wait_for_process("brim_sub", true));
  ASSERT_TRUE(wait_until([] { return accepts_connections(1883); }));
  Client client;
  ASSERT_TRUE(client.connect(1883));
  ASSERT_TRUE(client.subscribe("router/status/R"));
  // The subscriber may not have subscribed yet right after the boot: ask again now and then.
  for (int i = 0; i < 50 && client.received().empty(); ++i) {
    if (i % 10 == 0) ASSERT_EQ(mosquitto_publish(client.handle(), nullptr, "router/status", 2, "{}", 0, false), 0);
    client.serve_a_little();
  }
  ASSERT_FALSE(client.received().empty());
  const std::string reply = client.received().front().payload;
  cJSON *o = cJSON_Parse(reply.c_str());
  ASSERT_TRUE(cJSON_IsObject(o)) << reply;
  auto text = [o](const char *name) {
    const char *s = cJSON_GetStringValue(cJSON_GetObjectItem(o, name));
    return std::string(s ? s : "<none>");
  };
  EXPECT_EQ(text("wan_if"), "eth1");
  EXPECT_EQ(text("wan_ip"), getWanIp());
  EXPECT_EQ(text("wan_gateway"), kGateway);
  EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItem(o, "wan_connected"))) << reply;
  EXPECT_GE(seconds(text("wan_link_time")), 1) << reply;
  cJSON *dns = cJSON_GetObjectItem(o, "dns");
  ASSERT_EQ(cJSON_GetArraySize(dns), 1) << reply;
  EXPECT_STREQ(cJSON_GetStringValue(cJSON_GetArrayItem(dns, 0)), kGateway);
  cJSON_Delete(o);
  EXPECT_EQ(read_file("/tmp/brim_isp_boot.out"), "");  // every status request's driver ask answered
  run_shell("killall brim_sub vz_daemon vz_broker 2>/dev/null; rm -f /tmp/brim_isp_boot.out");
}

// The ISP's end of the cable going down is no link: not connected, no time; back up, link and
// connection again, the time counting from 0 once more.
TEST_F(Isp, FarEndDownIsNoLinkAndBackUpIsLinkAgain) {
  const std::string ip = getWanIp();
  ASSERT_TRUE(wait_until([] { return wanconnect() >= 1; })) << "the connection time does not count";
  ASSERT_TRUE(isp_port("down"));
  EXPECT_LT(get_wan_link_status("eth1"), 0);
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(connect_status(), "disconnected");
  EXPECT_EQ(linktime(), "0;0;0;0");
  EXPECT_TRUE(wait_until([] { return wanconnect() == 0; })) << "the connection time was not stopped";
  ASSERT_TRUE(isp_port("up"));
  EXPECT_EQ(get_wan_link_status("eth1"), 0);
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
  ASSERT_TRUE(wait_until([] { return std::strcmp(getWanGateway(), kGateway) == 0; })) << "no new lease";
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(std::string(getWanIp()).rfind("100.64.", 0), 0u);
  EXPECT_LE(wanconnect(), 1);
}

}  // namespace
