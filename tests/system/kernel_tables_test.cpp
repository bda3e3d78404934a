// Interface addresses and kernel tables from the real kernel in the simulated router's network
// namespace: br0 carries the store's LAN address, eth1 is up without one; routes, neighbours and
// traffic are made with ip and real packets; resolver files are written into the private /etc.
#include <arpa/inet.h>
#include <net/if_arp.h>

#include <cctype>
#include <cstring>
#include <optional>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

std::string mac_of(const char *ifname) {  // upper case, as the library writes it
  std::string s = trimmed(read_file(std::string("/sys/class/net/") + ifname + "/address"));
  for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The factory store loaded; the WAN port gets a subnet of its own only where a test adds one.
class Kernel : public SandboxTest {
 protected:
  void prepare() override { load_store(); }
  void cleanup() override {
    run_shell("while ip route del default 2>/dev/null; do :; done; ip route flush dev eth1; ip addr flush dev eth1");
    setenv("APMIB_STORE", "/etc/apmib.store", 1);  // later tests expect the router's own store
    apmib_init();
  }
};

TEST_F(Kernel, BridgeAnswersWithTheLanAddressAndItsMac) {
  char text[16], lan[16], mac[18];
  ASSERT_EQ(getInAddr("br0", IFADDR_IP, text), 1);
  EXPECT_STREQ(text, getLanIp(lan));
  ASSERT_EQ(getInAddr("br0", IFADDR_NETMASK, text), 1);
  EXPECT_STREQ(text, "255.255.255.0");
  ASSERT_EQ(getIfIp("br0", text), 0);  // the other convention: 0 for success
  EXPECT_STREQ(text, "192.168.0.1");
  struct sockaddr hw = {};
  ASSERT_EQ(getInAddr("br0", IFADDR_HWADDR, &hw), 1);
  EXPECT_EQ(hw.sa_family, ARPHRD_ETHER);
  const auto *b = reinterpret_cast<const unsigned char *>(hw.sa_data);
  std::snprintf(mac, sizeof mac, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  EXPECT_EQ(mac, mac_of("br0"));
  EXPECT_EQ(getLanMac() ? getLanMac() : "(null)", mac_of("br0"));  // upper case: caller_buffers_test
}

// Every failure leaves the caller's buffer untouched; a 16-character name is refused, not cut to
// the 15 characters of an interface that exists.
TEST_F(Kernel, NoAddressMissingInterfacesLongNamesAndRefusedSelectors) {
  const char *fifteen = "brimifname15chr";
  const std::string sixteen = std::string(fifteen) + "X";
  Restore gone{std::string("ip link del ") + fifteen};
  BRIM_SH(std::string("ip link add ") + fifteen + " type bridge && ip addr add 10.77.0.1/24 dev " + fifteen);
  char text[18];
  ASSERT_EQ(getInAddr(fifteen, IFADDR_IP, text), 1);
  EXPECT_STREQ(text, "10.77.0.1");
  const struct {
    const char *name;
    int which;
  } rows[] = {{"eth1", IFADDR_IP}, {"eth1", IFADDR_NETMASK}, {"nosuch0", IFADDR_HWADDR}, {"", IFADDR_IP},
              {nullptr, IFADDR_IP}, {sixteen.c_str(), IFADDR_IP}, {"br0", 0}, {"br0", 3}, {"br0", 16}};  // selectors: 2, 4, 8
  char buf[32] = "untouched";
  for (const auto &row : rows)
    EXPECT_EQ(getInAddr(row.name, row.which, buf), 0) << (row.name ? row.name : "(null)") << " " << row.which;
  for (const char *name : {"eth1", "nosuch0", sixteen.c_str()}) EXPECT_EQ(getIfIp(name, buf), -1) << name;
  for (const char *name : {"nosuch0", sixteen.c_str()}) EXPECT_EQ(getIfMac(name, buf), -1) << name;
  EXPECT_STREQ(buf, "untouched");
  Restore back{"ip link set br0-away name br0; ip link set br0 up"};
  BRIM_SH("ip link set br0 down && ip link set br0 name br0-away");
  EXPECT_EQ(getLanMac(), nullptr);
}

TEST_F(Kernel, WanReadersFollowTheWanInterface) {
  EXPECT_STREQ(getWanIp(), "0.0.0.0");  // eth1, the DHCP WAN in gateway mode, has no address yet
  EXPECT_STREQ(getWanNetmask(), "0.0.0.0");
  BRIM_SH("ip addr add 172.16.5.9/16 dev eth1");
  const char *first = getWanIp();
  EXPECT_STREQ(first, "172.16.5.9");
  EXPECT_STREQ(getWanNetmask(), "255.255.0.0");
  EXPECT_EQ(getWanIp(), first);  // one static buffer
  EXPECT_EQ(getWanMac(), mac_of("eth1"));
  for (const auto &[store, mac] : {std::pair<const char *, std::string>{"WAN_DHCP = 3\n", mac_of("eth1")},  // ppp0 missing
                                   {"OP_MODE = 2\nWISP_WAN_ID = 1\n", ""},  // the repeater interface is missing
                                   {"!WISP_WAN_ID = 0\n", ""}}) {           // no WAN interface can be named at all
    load_store(store);
    EXPECT_STREQ(getWanIp(), "0.0.0.0") << store;
    EXPECT_STREQ(getWanNetmask(), "0.0.0.0") << store;
    EXPECT_EQ(getWanMac(), mac) << store;
  }
}

// websSetCfgResponse tells the client where the device is: in bridge mode the live address of
// br0 (empty without one), otherwise the configured one.
TEST_F(Kernel, SetCfgReplyCarriesTheLanAddressOfTheMode) {
  Broker broker;
  Client listener, handler;
  ASSERT_TRUE(broker.start());
  ASSERT_TRUE(listener.connect(broker.port()) && listener.subscribe("req/#") && handler.connect(broker.port()));
  auto lan_ip = [&] {
    size_t before = listener.received().size();
    websSetCfgResponse(handler.handle(), "req/set", "5", "");
    return listener.wait_for(before + 1) ? json_text(listener.received()[before].payload, "lan_ip") : "<no reply>";
  };
  load_store("OP_MODE = 1\nIP_ADDR = 10.9.8.7\n");
  EXPECT_EQ(lan_ip(), "192.168.0.1");
  Restore readd{"ip addr add 192.168.0.1/24 dev br0"};
  BRIM_SH("ip addr flush dev br0");
  EXPECT_EQ(lan_ip(), "");
  load_store("OP_MODE = 2\nIP_ADDR = 10.9.8.7\n");
  EXPECT_EQ(lan_ip(), "10.9.8.7");
}

// The counters that name the columns of /proc/net/dev apart (their sums are in proc_parse_test).
std::vector<uint64_t> kernel_view(const std::string &i) {
  std::vector<uint64_t> v;
  for (const char *n : {"rx_bytes", "rx_packets", "rx_errors", "multicast", "tx_bytes", "tx_packets", "tx_dropped"})
    v.push_back(std::strtoull(read_file("/sys/class/net/" + i + "/statistics/" + n).c_str(), nullptr, 10));
  return v;
}

TEST_F(Kernel, StatsMatchTheKernelsOwnCounters) {
  BRIM_SH("ip addr add 10.77.0.1/24 dev eth1");
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), on = 1;
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
  ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "eth1", 5), 0);
  sockaddr_in to{};
  to.sin_family = AF_INET, to.sin_port = htons(9), to.sin_addr.s_addr = inet_addr("10.77.0.255");
  std::string payload(300, 'p');  // 25 broadcasts keep eth1's sending and eth1-peer's receiving busy
  for (int i = 0; i < 25; ++i) sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  close(fd);
  for (const char *ifname : {"eth1", "eth1-peer", "br0", "lo"}) {
    // Compare only a read that the kernel's view did not change around (IPv6 housekeeping).
    bool compared = false;
    for (int attempt = 0; attempt < 50 && !compared; ++attempt) {
      std::vector<uint64_t> before = kernel_view(ifname);
      NetDevStats o = {};
      ASSERT_EQ(getStats(ifname, &o), 0) << ifname;
      if ((compared = kernel_view(ifname) == before))
        EXPECT_EQ(before, (std::vector<uint64_t>{o.rx_bytes, o.rx_packets, o.rx_errors, o.rx_multicast, o.tx_bytes, o.tx_packets,
                                                 o.tx_dropped})) << ifname;
    }
    EXPECT_TRUE(compared) << ifname << " never held still";
  }
  EXPECT_GE(kernel_view("eth1")[5], 25u);
  BRIM_SH("ip link add brimlongname012 type veth peer name brimlong-peer");
  Restore gone{"ip link del brimlongname012"};
  NetDevStats s = {};
  EXPECT_EQ(getStats("brimlongname012", &s), 0);
  for (const char *name : {"brimlongname01", "eth9", ""}) EXPECT_EQ(getStats(name, &s), -1) << name;  // a prefix is another name
}

// A permanent entry is found in caller_buffers_test; here the ones that are not there.
TEST_F(Kernel, ArpLookupOfMissingEntries) {
  for (const char *addr : {"10.77.0.7", "IP"}) {  // no header entry
    char mac[18];
    arplookup(addr, mac);
    EXPECT_STREQ(mac, "00:00:00:00:00:00") << addr;
  }
}

TEST_F(Kernel, RoutesAndGateways) {
  BRIM_SH("ip addr add 10.77.0.1/24 dev eth1");
  uint32_t gw = 0xDEADBEEF;
  EXPECT_EQ(getDefaultRoute("eth1", &gw), 0);  // only the connected route: the address untouched
  EXPECT_EQ(gw, 0xDEADBEEFu);
  BRIM_SH("ip route add 10.88.0.0/16 via 10.77.0.254 dev eth1");  // a gateway route, not the default, is taken
  ASSERT_EQ(getDefaultRoute("eth1", &gw), 1);
  EXPECT_EQ(gw, inet_addr("10.77.0.254"));
  gw = 0xDEADBEEF;
  EXPECT_EQ(getDefaultRoute("br0", &gw), 0);  // other interfaces' routes do not count
  EXPECT_EQ(gw, 0xDEADBEEFu);
  run_shell("ip route del 10.88.0.0/16");
  char real[16] = "stale";
  getRealGateway(real);
  EXPECT_STREQ(real, "");  // no default route
  load_store("OP_MODE = 0\nWAN_DHCP = 0\n");
  EXPECT_STREQ(getWanGateway(), "0.0.0.0");
  // Two default routes: the lower metric is listed, and wins, first.
  BRIM_SH("ip route add default via 10.77.0.253 dev eth1 metric 20");
  EXPECT_STREQ(getWanGateway(), "10.77.0.253");
  BRIM_SH("ip route add default via 192.168.0.254 dev br0 metric 10");
  getRealGateway(real);
  EXPECT_STREQ(real, "192.168.0.254");
  load_store("OP_MODE = 0\nWAN_DHCP = 3\n");  // a PPP WAN is ppp0, which has no route here
  EXPECT_STREQ(getWanGateway(), "0.0.0.0");
  run_shell("ip route del default via 10.77.0.253 dev eth1 metric 20; ip route del default via 192.168.0.254");
  BRIM_SH("ip route add default dev eth1");  // straight onto the link: no gateway, empty text
  std::strcpy(real, "stale");
  getRealGateway(real);
  EXPECT_STREQ(real, "");
}

TEST_F(Kernel, NthNameServerFromResolvConfElseTheFallbackFile) {
  using File = std::optional<std::string>;
  const struct {
    File conf, dnsmasq;
    std::vector<const char *> servers;  // getDns(1), getDns(2), ...; then 0.0.0.0
  } rows[] = {
      // An IPv6 server does not fit the text: passed over, never cut. The fallback file is not
      // consulted while resolv.conf exists.
      {"search lan\nnameserver 10.0.0.53\nnameserver 2001:db8:85a3:0:0:8a2e:370:7334\nnameserver\t8.8.4.4 # 2\n",
       "nameserver 9.9.9.9\n", {"10.0.0.53", "8.8.4.4"}},
      {std::nullopt, "nameserver 1.0.0.1\nnameserver 1.1.1.1\n", {"1.0.0.1", "1.1.1.1"}},
      {std::nullopt, std::nullopt, {}},
      // Lines past the 80-byte buffer: the tail is no line of its own; the head still counts.
      {"nameserver 10.1.1.1 " + std::string(59, '#') + "nameserver 6.6.6.6\noptions" + std::string(72, ' ') +
           "nameserver 7.7.7.7\nnameserver 10.2.2.2\n", std::nullopt,
       {"10.1.1.1", "10.2.2.2"}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.conf.value_or("(no resolv.conf)"));
    for (const auto &[path, text] : {std::pair{"/etc/resolv.conf", row.conf}, {"/etc/resolv.dnsmasq.conf", row.dnsmasq}}) {
      unlink(path);
      if (text) ASSERT_TRUE(write_file(path, *text));
    }
    for (size_t n = 0; n < row.servers.size(); ++n) EXPECT_STREQ(getDns(static_cast<int>(n) + 1), row.servers[n]);
    for (int n : {static_cast<int>(row.servers.size()) + 1, 0, -1}) EXPECT_STREQ(getDns(n), "0.0.0.0") << n;
  }
  run_shell("rm -f /etc/resolv.conf /etc/resolv.dnsmasq.conf");
}

}  // namespace
