// The router with an upstream: brim-sandbox --isp plugs eth1 into an ISP's bridge in another
// network namespace, where dnsmasq hands out leases, and the firmware's DHCP client (busybox
// udhcpc) has one before the tests start. The WAN state functions then see a real lease, the
// route and name server it brought, the router's Ethernet driver (platform/ethdriver) answers
// the link from eth1's carrier, and the connection time counts; a cable pulled at the ISP's end
// or a lease given back is no connection. Run by ctest as system_isp.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <signal.h>
#include <unistd.h>

#include <cJSON.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

constexpr const char *kGateway = "100.64.0.1";  // the ISP's router and name server (sandbox/brim-isp)

class Isp : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    if (std::getenv("BRIM_ISP_NETNS") == nullptr) GTEST_SKIP() << "needs an ISP: brim-sandbox --isp";
    ASSERT_NE(apmib_init(), 0);  // the factory store: gateway mode, DHCP WAN
  }

  // A command in the ISP's network namespace, on eth1's peer there.
  static int isp_port(const std::string &what) {
    return run_shell(std::string("nsenter --net=\"$BRIM_ISP_NETNS\" ip link set \"$BRIM_ISP_PORT\" ") + what).status;
  }
  static std::string linktime() {
    char buf[32] = "unset";
    getWanLinktime(buf);
    return buf;
  }
  // Seconds of a link time text "0;h;m;s".
  static int seconds(const std::string &t) {
    int d = -1, h = -1, m = -1, s = -1;
    if (std::sscanf(t.c_str(), "%d;%d;%d;%d", &d, &h, &m, &s) != 4) return -1;
    return (d * 24 + h) * 3600 + m * 60 + s;
  }
  static std::string connect_status() {
    char buf[16] = "unset";
    get_wan_connect_status(buf);
    return buf;
  }
  // Polls (at most about limit_ms) until `done` holds.
  template <class Done>
  static bool wait_until(Done done, int limit_ms = 3000) {
    for (int waited = 0; waited <= limit_ms; waited += 50) {
      if (done()) return true;
      usleep(50 * 1000);
    }
    return false;
  }
  // ... until the connection time file's first word satisfies `ok`.
  template <class Ok>
  static bool wait_for_wanconnect(Ok ok) {
    return wait_until([&ok] { return ok(std::atoi(read_file("/var/wanconnect").c_str())); });
  }
};

TEST_F(Isp, TheBootsRouterHasALeaseAndItsTimeCounts) {
  // The leased address, as the kernel and the ISP's DHCP server have it.
  const std::string ip = getWanIp();
  ASSERT_EQ(ip.rfind("100.64.", 0), 0u) << ip;
  EXPECT_NE(run_shell("ip -4 -o addr show dev eth1").output.find(" " + ip + "/22 "), std::string::npos);
  std::string mac = read_file("/sys/class/net/eth1/address");
  mac.pop_back();
  EXPECT_NE(read_file("/var/run/isp/dnsmasq.leases").find(" " + mac + " " + ip + " "), std::string::npos) << mac;
  // What came with it: the default route and the name server.
  EXPECT_STREQ(getWanGateway(), kGateway);
  char gw[16] = {};
  getRealGateway(gw);
  EXPECT_STREQ(gw, kGateway);
  EXPECT_STREQ(getDns(1), kGateway);
  EXPECT_STREQ(getDns(2), "0.0.0.0");
  // The client that holds it: its pid file names the running udhcpc.
  const int pid = getPid("/etc/udhcpc/udhcpc-eth1.pid");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(read_file("/proc/" + std::to_string(pid) + "/comm"), "udhcpc\n");
  EXPECT_EQ(isDhcpClientExist(), 1);

  EXPECT_EQ(get_wan_link_status("eth1"), 0);
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(checkEthStatus(), 1);
  EXPECT_EQ(connect_status(), "connected");

  const int first = seconds(linktime());
  ASSERT_GE(first, 0) << linktime();
  usleep(1200 * 1000);  // the time file moves on once a second
  EXPECT_GT(seconds(linktime()), first);
}

// The status module's reply through the booted subscriber, as a management client sees it.
TEST_F(Isp, StatusReplyShowsTheConnectedWan) {
  run_shell("killall vz_broker 2>/dev/null");
  ASSERT_TRUE(wait_for_process("vz_broker", false));
  CmdResult boot = run_shell("unset BRIM_MQTT_PORT BRIM_VZ_SUB_FAIL; brim_init >/tmp/brim_isp_boot.out 2>&1");
  ASSERT_EQ(boot.status, 0) << boot.output;
  ASSERT_TRUE(wait_for_process("brim_sub", true));
  bool up = false;
  for (int i = 0; i < 250 && !(up = accepts_connections(1883)); ++i) pause_briefly();
  ASSERT_TRUE(up);

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
  // Every status request asked the Ethernet driver, and it answered: nothing on stderr.
  EXPECT_EQ(read_file("/tmp/brim_isp_boot.out"), "");
  run_shell("killall brim_sub vz_daemon vz_broker 2>/dev/null; rm -f /tmp/brim_isp_boot.out");
}

// The ISP's end of the cable going down is the router's port losing its link: not connected, no
// time; back up, link and connection again, the time counting from 0 once more.
TEST_F(Isp, FarEndDownIsNoLinkAndBackUpIsLinkAgain) {
  const std::string ip = getWanIp();
  ASSERT_TRUE(wait_for_wanconnect([](int s) { return s >= 1; })) << "the connection time does not count";
  ASSERT_EQ(isp_port("down"), 0);
  EXPECT_LT(get_wan_link_status("eth1"), 0);
  EXPECT_EQ(checkWanStatus(), 0);
  EXPECT_EQ(connect_status(), "disconnected");
  EXPECT_EQ(linktime(), "0;0;0;0");
  EXPECT_TRUE(wait_for_wanconnect([](int s) { return s == 0; })) << "the connection time was not stopped";

  ASSERT_EQ(isp_port("up"), 0);
  EXPECT_EQ(get_wan_link_status("eth1"), 0);
  EXPECT_EQ(connect_status(), "connected");
  EXPECT_TRUE(wait_for_wanconnect([](int s) { return s >= 1; })) << "the connection time did not count again";
  EXPECT_EQ(getWanIp(), ip);  // the same lease, renewed
}

// A lease given back (the client's SIGUSR2) is no connection: the address and route go and the
// time stops. Asked for again (SIGUSR1), a lease comes back and the time starts from 0.
TEST_F(Isp, ReleasedLeaseIsNoConnectionUntilTheNextOne) {
  const int pid = getPid("/etc/udhcpc/udhcpc-eth1.pid");
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGUSR2), 0);
  ASSERT_TRUE(wait_until([] { return isDhcpClientExist() == 0; })) << "the address stayed";
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_STREQ(getWanGateway(), "0.0.0.0");
  EXPECT_EQ(get_wan_link_status("eth1"), 0);  // the cable is still in
  EXPECT_EQ(connect_status(), "disconnected");
  EXPECT_EQ(std::atoi(read_file("/var/wanconnect").c_str()), 0);

  ASSERT_EQ(kill(pid, SIGUSR1), 0);
  // The client's script sets the address first, then the route.
  ASSERT_TRUE(wait_until([] { return std::strcmp(getWanGateway(), kGateway) == 0; })) << "no new lease";
  EXPECT_EQ(checkWanStatus(), 1);
  EXPECT_EQ(std::string(getWanIp()).rfind("100.64.", 0), 0u);
  EXPECT_LE(std::atoi(read_file("/var/wanconnect").c_str()), 1);
}

}  // namespace
