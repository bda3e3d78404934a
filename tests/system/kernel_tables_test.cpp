// Interface addresses and kernel tables read from the real kernel in the simulated router's own
// network namespace: br0 carries the LAN address of the store, eth1 is up without one; routes,
// neighbours and traffic are made with ip and real packets; the resolver files are written into
// the sandbox's private /etc.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
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

// The factory store with later lines overriding it, loaded in this process.
void store(const std::string &overrides) {
  brim_test::use_store(brim_test::factory_store() + "\n" + overrides);
  ASSERT_NE(apmib_init(), 0);
}

// --- interface addresses ---

std::string sysfs_mac(const char *ifname) {
  std::string s = read_file(std::string("/sys/class/net/") + ifname + "/address");
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

std::string upper(std::string s) {
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class IfAddr : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (!IsSkipped()) store("");
  }
  void TearDown() override {  // later tests expect the router's own store loaded again
    setenv("APMIB_STORE", "/etc/apmib.store", 1);
    apmib_init();
    SandboxTest::TearDown();
  }
};

// A buffer whose untouched state is easy to check.
struct Marked {
  Marked() { std::memset(b, '#', sizeof b); }
  bool untouched() const { return std::string(b, sizeof b) == std::string(sizeof b, '#'); }
  char b[32];
};

TEST_F(IfAddr, BridgeAnswersWithTheLanAddressAndItsMac) {
  char text[16], lan[16];
  ASSERT_EQ(getInAddr("br0", IFADDR_IP, text), 1);
  EXPECT_STREQ(text, "192.168.0.1");
  EXPECT_STREQ(text, getLanIp(lan));
  ASSERT_EQ(getInAddr("br0", IFADDR_NETMASK, text), 1);
  EXPECT_STREQ(text, "255.255.255.0");
  ASSERT_EQ(getIfIp("br0", text), 0);  // the other result convention: 0 for success
  EXPECT_STREQ(text, "192.168.0.1");

  struct sockaddr hw;
  std::memset(&hw, 0, sizeof hw);
  ASSERT_EQ(getInAddr("br0", IFADDR_HWADDR, &hw), 1);
  EXPECT_EQ(hw.sa_family, ARPHRD_ETHER);
  char from_record[18];
  const auto *b = reinterpret_cast<const unsigned char *>(hw.sa_data);
  std::snprintf(from_record, sizeof from_record, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
  EXPECT_EQ(from_record, sysfs_mac("br0"));
  char mac[18];
  ASSERT_EQ(getIfMac("br0", mac), 0);
  EXPECT_EQ(mac, upper(sysfs_mac("br0")));
  const char *lan_mac = getLanMac();
  ASSERT_NE(lan_mac, nullptr);
  EXPECT_EQ(lan_mac, upper(sysfs_mac("br0")));
}

TEST_F(IfAddr, MacTextIsUpperCaseWithTwoDigitsPerByte) {
  Restore back("ip link set dev eth1 down; ip link set dev eth1 address " + sysfs_mac("eth1") +
               "; ip link set dev eth1 up");
  ip("link set dev eth1 down");
  ip("link set dev eth1 address 02:1a:5e:0b:cd:ef");
  ip("link set dev eth1 up");
  char mac[18];
  ASSERT_EQ(getIfMac("eth1", mac), 0);
  EXPECT_STREQ(mac, "02:1A:5E:0B:CD:EF");
}

// Every failure leaves the caller's buffer untouched.
TEST_F(IfAddr, NoAddressMissingInterfaceAndRefusedSelectors) {
  struct {
    const char *name;
    int which;
  } rows[] = {
      {"eth1", IFADDR_IP}, {"eth1", IFADDR_NETMASK},  // up, but without an address
      {"nosuch0", IFADDR_IP}, {"nosuch0", IFADDR_NETMASK}, {"nosuch0", IFADDR_HWADDR},
      {"", IFADDR_IP}, {nullptr, IFADDR_IP},
      // br0 exists and has an address, but only 2, 4 and 8 are selectors.
      {"br0", 0}, {"br0", 1}, {"br0", 3}, {"br0", 6}, {"br0", 16}, {"br0", -2},
  };
  for (const auto &row : rows) {
    Marked buf;
    EXPECT_EQ(getInAddr(row.name, row.which, buf.b), 0) << (row.name ? row.name : "(null)") << " " << row.which;
    EXPECT_TRUE(buf.untouched()) << (row.name ? row.name : "(null)") << " " << row.which;
  }
  Marked buf;
  EXPECT_EQ(getIfIp("eth1", buf.b), -1);
  EXPECT_EQ(getIfIp("nosuch0", buf.b), -1);
  EXPECT_EQ(getIfMac("nosuch0", buf.b), -1);
  EXPECT_TRUE(buf.untouched());
  // eth1 exists all the same: its hardware address answers.
  EXPECT_EQ(getInAddr("eth1", IFADDR_HWADDR, buf.b), 1);
}

TEST_F(IfAddr, NamesOfSixteenCharactersAreRefusedNotCut) {
  // An interface whose name is exactly the first 15 characters of the name asked for.
  const char *fifteen = "brimifname15chr";
  const std::string sixteen = std::string(fifteen) + "X";
  ASSERT_EQ(std::strlen(fifteen), 15u);
  Restore gone(std::string("ip link del ") + fifteen);
  ip(std::string("link add ") + fifteen + " type bridge");
  ip(std::string("addr add 10.77.0.1/24 dev ") + fifteen);
  ip(std::string("link set ") + fifteen + " up");
  char text[18];
  ASSERT_EQ(getInAddr(fifteen, IFADDR_IP, text), 1);
  EXPECT_STREQ(text, "10.77.0.1");
  Marked buf;
  for (int which : {IFADDR_IP, IFADDR_NETMASK, IFADDR_HWADDR}) EXPECT_EQ(getInAddr(sixteen.c_str(), which, buf.b), 0);
  EXPECT_EQ(getIfIp(sixteen.c_str(), buf.b), -1);
  EXPECT_EQ(getIfMac(sixteen.c_str(), buf.b), -1);
  EXPECT_TRUE(buf.untouched());
}

TEST_F(IfAddr, WanReadersFollowTheWanInterface) {
  // eth1, the WAN in gateway mode with DHCP, has no address yet.
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_STREQ(getWanNetmask(), "0.0.0.0");
  Restore flush("ip addr flush dev eth1");
  ip("addr add 172.16.5.9/16 dev eth1");
  const char *first = getWanIp();
  EXPECT_STREQ(first, "172.16.5.9");
  EXPECT_STREQ(getWanNetmask(), "255.255.0.0");
  EXPECT_EQ(getWanIp(), first);  // one static buffer
  const std::string eth1 = upper(sysfs_mac("eth1"));
  EXPECT_EQ(getWanMac(), eth1);

  struct {
    const char *store;
    std::string mac;
  } rows[] = {
      {"WAN_DHCP = 3\n", eth1},               // PPP: ppp0 does not exist here; the MAC is the wired port's
      {"WAN_DHCP = 16\nOP_MODE = 2\n", eth1},
      {"OP_MODE = 2\nWISP_WAN_ID = 1\n", ""},  // wireless WAN: the repeater interface is missing
      {"!WISP_WAN_ID = 0\n", ""},             // no WAN interface can be named at all
  };
  for (const auto &row : rows) {
    store(row.store);
    EXPECT_STREQ(getWanIp(), "0.0.0.0") << row.store;
    EXPECT_STREQ(getWanNetmask(), "0.0.0.0") << row.store;
    EXPECT_EQ(getWanMac(), row.mac) << row.store;
  }
}

TEST_F(IfAddr, LanMacIsNullWithoutTheBridge) {
  Restore back("ip link set br0-away name br0; ip link set br0 up");
  ip("link set br0 down");
  ip("link set br0 name br0-away");
  EXPECT_EQ(getLanMac(), nullptr);
}

// websSetCfgResponse tells the client where to find the device: in bridge mode the live
// address of br0, otherwise the configured one.
class SetCfgLanAddress : public IfAddr {
 protected:
  void SetUp() override {
    IfAddr::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(broker_.start());
    ASSERT_TRUE(listener_.connect(broker_.port()));
    ASSERT_TRUE(listener_.subscribe("req/#"));
    ASSERT_TRUE(handler_.connect(broker_.port()));
  }
  void TearDown() override {
    broker_.stop();
    IfAddr::TearDown();
  }

  std::string lan_ip_of_reply() {
    size_t before = listener_.received().size();
    websSetCfgResponse(handler_.handle(), "req/set", "5", "");
    if (!listener_.wait_for(before + 1)) return "<no reply>";
    const auto &m = listener_.received()[before];
    EXPECT_EQ(m.topic, "req/set/R");
    cJSON *root = cJSON_Parse(m.payload.c_str());
    const cJSON *lan = cJSON_GetObjectItem(root, "lan_ip");
    std::string out = cJSON_IsString(lan) ? lan->valuestring : "<not a string>";
    cJSON_Delete(root);
    return out;
  }

  brim_test::Broker broker_;
  brim_test::Client listener_;
  brim_test::Client handler_;
};

TEST_F(SetCfgLanAddress, BridgeModeReportsTheLiveBridgeAddress) {
  store("OP_MODE = 1\nIP_ADDR = 10.9.8.7\n");
  EXPECT_EQ(lan_ip_of_reply(), "192.168.0.1");
  {
    Restore readd("ip addr add 192.168.0.1/24 dev br0");
    ip("addr flush dev br0");
    // No address on br0: an empty text, not the configured address.
    EXPECT_EQ(lan_ip_of_reply(), "");
    store("OP_MODE = 0\nIP_ADDR = 10.9.8.7\n");
    EXPECT_EQ(lan_ip_of_reply(), "10.9.8.7");
    store("OP_MODE = 2\nIP_ADDR = 10.9.8.7\n");
    EXPECT_EQ(lan_ip_of_reply(), "10.9.8.7");
  }
  char text[16];
  ASSERT_EQ(getInAddr("br0", IFADDR_IP, text), 1);  // restored for the tests that follow
  EXPECT_STREQ(text, "192.168.0.1");
}

// --- kernel tables ---

class KernelTables : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    // The WAN port gets a subnet of its own for the duration of the test.
    ip("addr add 10.77.0.1/24 dev eth1");
  }
  void TearDown() override {
    if (!IsSkipped())
      run_shell("while ip route del default 2>/dev/null; do :; done; ip route flush dev eth1; ip addr flush dev eth1");
    SandboxTest::TearDown();
  }
};

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
  send_broadcasts(25, 300);  // so that eth1's sending and eth1-peer's receiving columns are busy
  EXPECT_GE(sysfs_counter("eth1", "tx_packets"), 25u);
  EXPECT_GE(sysfs_counter("eth1-peer", "rx_bytes"), 25u * 342);  // payload + UDP, IP, Ethernet headers
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
  for (const auto &[addr, want] : {std::pair{"192.168.0.77", "02:1a:2b:3c:4d:5e"},  // the kernel's lower case
                                   {"10.77.0.9", "02:00:00:00:00:09"},
                                   {"192.168.0.7", "00:00:00:00:00:00"},
                                   {"IP", "00:00:00:00:00:00"}}) {  // the header line is no entry
    char mac[18];
    arplookup(addr, mac);
    EXPECT_STREQ(mac, want) << addr;
  }
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
    unlink("/etc/resolv.conf");
    unlink("/etc/resolv.dnsmasq.conf");
    SandboxTest::TearDown();
  }
};

TEST_F(Resolver, NthServerFromResolvConfElseTheFallbackFile) {
  using File = std::optional<std::string>;
  struct {
    const char *what;
    File conf, dnsmasq;
    std::vector<const char *> servers;  // getDns(1), getDns(2), ...; then 0.0.0.0 for n+1
  } rows[] = {
      // The IPv6 server does not fit the address text: passed over, never cut. The fallback
      // file is not consulted while resolv.conf exists.
      {"resolv.conf", "# written by the test\nsearch lan\nnameserver 10.0.0.53\n"
                      "nameserver 2001:db8:85a3:0:0:8a2e:370:7334\nnameserver\t8.8.4.4 # second\n",
       "nameserver 9.9.9.9\n", {"10.0.0.53", "8.8.4.4"}},
      {"one server", "nameserver 192.168.0.1\n", std::nullopt, {"192.168.0.1"}},
      {"fallback file", std::nullopt, "nameserver 1.0.0.1\nnameserver 1.1.1.1\n", {"1.0.0.1", "1.1.1.1"}},
      {"neither file", std::nullopt, std::nullopt, {}},
      // Lines longer than the 80-byte buffer: the tail is not read as a line of its own, and the
      // server at the head still counts (the first head ends exactly at the 79th character).
      {"long lines", "nameserver 10.1.1.1 " + std::string(59, '#') + "nameserver 6.6.6.6\noptions" +
                         std::string(72, ' ') + "nameserver 7.7.7.7\nnameserver 10.2.2.2\n",
       std::nullopt, {"10.1.1.1", "10.2.2.2"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    for (const auto &[path, text] :
         {std::pair{"/etc/resolv.conf", row.conf}, {"/etc/resolv.dnsmasq.conf", row.dnsmasq}}) {
      unlink(path);
      if (text) ASSERT_TRUE(write_file(path, *text));
    }
    for (size_t n = 0; n < row.servers.size(); ++n) EXPECT_STREQ(getDns(static_cast<int>(n) + 1), row.servers[n]);
    EXPECT_STREQ(getDns(static_cast<int>(row.servers.size()) + 1), "0.0.0.0");
    EXPECT_STREQ(getDns(0), "0.0.0.0");
    EXPECT_STREQ(getDns(-1), "0.0.0.0");
  }
}

}  // namespace
