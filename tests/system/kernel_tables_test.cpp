// Kernel tables read from the real kernel in the simulated router's network namespace: the
// routes, neighbours and traffic are made with ip and real packets; the resolver files are
// written into the sandbox's private /etc.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::read_file;
using brim_test::run_shell;
using brim_test::write_file;

void ip(const std::string &args) {
  auto r = run_shell("ip " + args);
  ASSERT_EQ(r.status, 0) << "ip " << args << ": " << r.output;
}

// Undoes a change to the namespace when the test ends, whatever way it ends.
struct Restore {
  explicit Restore(std::string cmd) : cmd_(std::move(cmd)) {}
  ~Restore() { run_shell(cmd_); }
  std::string cmd_;
};

class KernelTables : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    // The WAN port gets a subnet of its own for the duration of the test.
    ip("addr add 10.77.0.1/24 dev eth1");
  }
  void TearDown() override {
    if (IsSkipped()) return;
    run_shell("while ip route del default 2>/dev/null; do :; done; ip route flush dev eth1; ip addr flush dev eth1");
  }
  void store(const std::string &overrides) {
    brim_test::use_store(brim_test::factory_store() + "\n" + overrides);
    ASSERT_NE(apmib_init(), 0);
  }
};

// --- counters ---

uint64_t sysfs_counter(const std::string &ifname, const char *name) {
  std::string s = read_file("/sys/class/net/" + ifname + "/statistics/" + name);
  return std::strtoull(s.c_str(), nullptr, 10);
}

// What /proc/net/dev shows for an interface, from the kernel's per-counter files. Some of its
// columns are sums of the finer counters there.
NetDevStats kernel_view(const std::string &ifname) {
  auto c = [&](const char *n) { return sysfs_counter(ifname, n); };
  NetDevStats s;
  std::memset(&s, 0, sizeof s);
  s.rx_bytes = c("rx_bytes");
  s.rx_packets = c("rx_packets");
  s.rx_errors = static_cast<uint32_t>(c("rx_errors"));
  s.rx_dropped = static_cast<uint32_t>(c("rx_dropped") + c("rx_missed_errors"));
  s.rx_fifo_errors = static_cast<uint32_t>(c("rx_fifo_errors"));
  s.rx_frame_errors =
      static_cast<uint32_t>(c("rx_length_errors") + c("rx_over_errors") + c("rx_crc_errors") + c("rx_frame_errors"));
  s.rx_compressed = static_cast<uint32_t>(c("rx_compressed"));
  s.rx_multicast = static_cast<uint32_t>(c("multicast"));
  s.tx_bytes = c("tx_bytes");
  s.tx_packets = c("tx_packets");
  s.tx_errors = static_cast<uint32_t>(c("tx_errors"));
  s.tx_dropped = static_cast<uint32_t>(c("tx_dropped"));
  s.tx_fifo_errors = static_cast<uint32_t>(c("tx_fifo_errors"));
  s.collisions = static_cast<uint32_t>(c("collisions"));
  s.tx_carrier_errors = static_cast<uint32_t>(c("tx_carrier_errors") + c("tx_aborted_errors") +
                                              c("tx_window_errors") + c("tx_heartbeat_errors"));
  s.tx_compressed = static_cast<uint32_t>(c("tx_compressed"));
  return s;
}

// getStats with its spare fields cleared for comparison; rc as getStats returned it.
int stats_of(const std::string &ifname, NetDevStats &s) {
  std::memset(&s, 0, sizeof s);
  return getStats(ifname.c_str(), &s);
}

// Sends `count` UDP broadcasts of `len` bytes out of eth1; they arrive on eth1-peer.
void send_broadcasts(int count, size_t len) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  int on = 1;
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "eth1", 5), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr.s_addr = inet_addr("10.77.0.255");
  std::string payload(len, 'p');
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to),
              static_cast<ssize_t>(len));
  close(fd);
}

TEST_F(KernelTables, StatsMatchTheKernelsOwnCounters) {
  for (const char *ifname : {"eth1", "eth1-peer", "br0", "lo"}) {
    // Unrelated packets (IPv6 housekeeping) may move a counter between two reads: compare only
    // a getStats read that the kernel's view did not change around.
    bool compared = false;
    for (int attempt = 0; attempt < 50 && !compared; ++attempt) {
      NetDevStats before = kernel_view(ifname), ours;
      ASSERT_EQ(stats_of(ifname, ours), 0) << ifname;
      NetDevStats after = kernel_view(ifname);
      if (std::memcmp(&before, &after, sizeof before) != 0) continue;
      compared = true;
      EXPECT_EQ(std::memcmp(&ours, &before, sizeof ours), 0) << ifname;
    }
    EXPECT_TRUE(compared) << ifname << " never held still";
  }
}

TEST_F(KernelTables, TrafficOverTheVethPairMovesBothEnds) {
  NetDevStats tx0, rx0, tx1, rx1;
  ASSERT_EQ(stats_of("eth1", tx0), 0);
  ASSERT_EQ(stats_of("eth1-peer", rx0), 0);
  send_broadcasts(25, 300);
  ASSERT_EQ(stats_of("eth1", tx1), 0);
  ASSERT_EQ(stats_of("eth1-peer", rx1), 0);
  // Each frame carries the payload plus UDP, IP and Ethernet headers (8 + 20 + 14).
  EXPECT_GE(tx1.tx_packets - tx0.tx_packets, 25u);
  EXPECT_GE(tx1.tx_bytes - tx0.tx_bytes, 25u * 342);
  EXPECT_GE(rx1.rx_packets - rx0.rx_packets, 25u);
  EXPECT_GE(rx1.rx_bytes - rx0.rx_bytes, 25u * 342);
}

TEST_F(KernelTables, LongNamesAndAbsentInterfaces) {
  ip("link add brimlongname012 type veth peer name brimlong-peer");
  Restore gone("ip link del brimlongname012");
  NetDevStats s;
  EXPECT_EQ(stats_of("brimlongname012", s), 0);
  EXPECT_EQ(s.rx_packets, 0u);

  NetDevStats marked, copy;
  std::memset(&marked, 0x5A, sizeof marked);
  copy = marked;
  EXPECT_EQ(getStats("brimlongname01", &marked), -1);  // a prefix is another name
  EXPECT_EQ(getStats("eth9", &marked), -1);
  EXPECT_EQ(getStats("", &marked), -1);
  EXPECT_EQ(std::memcmp(&marked, &copy, sizeof marked), 0);
}

// --- ARP ---

TEST_F(KernelTables, ArpLookupOfPermanentEntries) {
  ip("neigh add 192.168.0.77 lladdr 02:1a:2b:3c:4d:5e dev br0 nud permanent");
  Restore gone("ip neigh del 192.168.0.77 dev br0");
  ip("neigh add 10.77.0.9 lladdr 02:00:00:00:00:09 dev eth1 nud permanent");
  char mac[18];
  arplookup("192.168.0.77", mac);
  EXPECT_STREQ(mac, "02:1a:2b:3c:4d:5e");  // the kernel's lower case, passed on
  arplookup("10.77.0.9", mac);
  EXPECT_STREQ(mac, "02:00:00:00:00:09");
  arplookup("192.168.0.7", mac);
  EXPECT_STREQ(mac, "00:00:00:00:00:00");
  arplookup("IP", mac);  // the header line is no entry
  EXPECT_STREQ(mac, "00:00:00:00:00:00");
}

// --- routes ---

TEST_F(KernelTables, DefaultRouteTakesTheFirstGatewayRouteOfTheInterface) {
  uint32_t gw = 0xDEADBEEF;
  // Only the connected route (no gateway): nothing found, the address untouched.
  EXPECT_EQ(getDefaultRoute("eth1", &gw), 0);
  EXPECT_EQ(gw, 0xDEADBEEFu);
  // A gateway route that is not the default route is still taken.
  ip("route add 10.88.0.0/16 via 10.77.0.254 dev eth1");
  ASSERT_EQ(getDefaultRoute("eth1", &gw), 1);
  EXPECT_EQ(gw, inet_addr("10.77.0.254"));
  // Routes of other interfaces do not count.
  ip("route add 10.99.0.0/16 via 192.168.0.254 dev br0");
  ASSERT_EQ(getDefaultRoute("br0", &gw), 1);
  EXPECT_EQ(gw, inet_addr("192.168.0.254"));
  gw = 0xDEADBEEF;
  EXPECT_EQ(getDefaultRoute("eth1-peer", &gw), 0);
  EXPECT_EQ(gw, 0xDEADBEEFu);
  run_shell("ip route del 10.99.0.0/16");
}

TEST_F(KernelTables, WanGatewayFollowsTheWanInterface) {
  store("OP_MODE = 0\nWAN_DHCP = 0\n");
  EXPECT_STREQ(getWanGateway(), "0.0.0.0");  // no gateway route on eth1
  ip("route add default via 10.77.0.253 dev eth1");
  EXPECT_STREQ(getWanGateway(), "10.77.0.253");
  // A PPP WAN is "ppp0", which has no route here.
  store("OP_MODE = 0\nWAN_DHCP = 3\n");
  EXPECT_STREQ(getWanGateway(), "0.0.0.0");
}

TEST_F(KernelTables, RealGatewayIsTheFirstUpDefaultRoute) {
  char gw[16];
  std::strcpy(gw, "stale");
  getRealGateway(gw);
  EXPECT_STREQ(gw, "");  // no default route

  // Two default routes: the table lists the lower metric first, and the first one wins.
  ip("route add default via 10.77.0.253 dev eth1 metric 20");
  ip("route add default via 192.168.0.254 dev br0 metric 10");
  getRealGateway(gw);
  EXPECT_STREQ(gw, "192.168.0.254");
  run_shell("ip route del default via 192.168.0.254 dev br0 metric 10");
  getRealGateway(gw);
  EXPECT_STREQ(gw, "10.77.0.253");
  run_shell("ip route del default via 10.77.0.253 dev eth1 metric 20");

  // A default route straight onto the link has no gateway: empty text.
  ip("route add default dev eth1");
  std::strcpy(gw, "stale");
  getRealGateway(gw);
  EXPECT_STREQ(gw, "");
}

// --- name servers ---

class Resolver : public brim_test::SandboxTest {
 protected:
  void TearDown() override {
    if (IsSkipped()) return;
    unlink("/etc/resolv.conf");
    unlink("/etc/resolv.dnsmasq.conf");
  }
};

TEST_F(Resolver, NthServerFromResolvConf) {
  unlink("/etc/resolv.conf");
  ASSERT_TRUE(write_file("/etc/resolv.conf",
                         "# written by the test\nsearch lan\nnameserver 10.0.0.53\n"
                         "nameserver 2001:db8:85a3:0:0:8a2e:370:7334\nnameserver\t8.8.4.4 # second\n"));
  ASSERT_TRUE(write_file("/etc/resolv.dnsmasq.conf", "nameserver 9.9.9.9\n"));
  EXPECT_STREQ(getDns(1), "10.0.0.53");
  // The IPv6 server does not fit the address text: passed over, never cut.
  EXPECT_STREQ(getDns(2), "8.8.4.4");
  EXPECT_STREQ(getDns(3), "0.0.0.0");  // beyond the list; the fallback file is not consulted
  EXPECT_STREQ(getDns(0), "0.0.0.0");
  EXPECT_STREQ(getDns(-1), "0.0.0.0");
}

TEST_F(Resolver, OneServerAndTheFallbackFile) {
  unlink("/etc/resolv.conf");
  ASSERT_TRUE(write_file("/etc/resolv.conf", "nameserver 192.168.0.1\n"));
  EXPECT_STREQ(getDns(1), "192.168.0.1");
  EXPECT_STREQ(getDns(2), "0.0.0.0");

  unlink("/etc/resolv.conf");
  ASSERT_TRUE(write_file("/etc/resolv.dnsmasq.conf", "nameserver 1.0.0.1\nnameserver 1.1.1.1\n"));
  EXPECT_STREQ(getDns(2), "1.1.1.1");
  unlink("/etc/resolv.dnsmasq.conf");
  EXPECT_STREQ(getDns(1), "0.0.0.0");  // neither file
}

TEST_F(Resolver, LongLinesAreNotSplitIntoServers) {
  unlink("/etc/resolv.conf");
  // Longer than the 80-byte line: the tail must not be read as a line of its own, and the server
  // word at the head still counts because it ends well inside.
  std::string comment(59, '#');  // the head ends exactly at the buffer's 79 characters
  ASSERT_TRUE(write_file("/etc/resolv.conf", "nameserver 10.1.1.1 " + comment + "nameserver 6.6.6.6\n" +
                                                 "options" + std::string(72, ' ') + "nameserver 7.7.7.7\n" +
                                                 "nameserver 10.2.2.2\n"));
  EXPECT_STREQ(getDns(1), "10.1.1.1");
  EXPECT_STREQ(getDns(2), "10.2.2.2");
  EXPECT_STREQ(getDns(3), "0.0.0.0");
}

}  // namespace
