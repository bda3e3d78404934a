// Interface addresses asked of the real kernel, in the simulated router's own network namespace:
// br0 carries the LAN address of the store, eth1 is up without an address.
#include <gtest/gtest.h>
#include <net/if_arp.h>
#include <sys/socket.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::read_file;
using brim_test::run_shell;

// Runs an ip command that must succeed.
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
    if (IsSkipped()) return;
    const char *was = std::getenv("APMIB_STORE");
    saved_store_ = was ? was : "";
    store(std::string());
  }
  // Later tests expect the router's own store again.
  void TearDown() override {
    if (saved_store_.empty()) return;
    setenv("APMIB_STORE", saved_store_.c_str(), 1);
    apmib_init();
  }
  // The factory store with later lines overriding it.
  void store(const std::string &overrides) {
    brim_test::use_store(brim_test::factory_store() + "\n" + overrides);
    ASSERT_NE(apmib_init(), 0);
  }
  std::string saved_store_;
};

// A buffer whose untouched state is easy to check.
struct Marked {
  Marked() { std::memset(b, '#', sizeof b); }
  bool untouched() const {
    for (char c : b)
      if (c != '#') return false;
    return true;
  }
  char b[32];
};

TEST_F(IfAddr, BridgeHasTheStoreLanAddress) {
  char ip_text[16];
  ASSERT_EQ(getInAddr("br0", IFADDR_IP, ip_text), 1);
  EXPECT_STREQ(ip_text, "192.168.0.1");
  char lan[16];
  EXPECT_STREQ(ip_text, getLanIp(lan));
  char mask[16];
  ASSERT_EQ(getInAddr("br0", IFADDR_NETMASK, mask), 1);
  EXPECT_STREQ(mask, "255.255.255.0");
  // The other result convention: 0 for success.
  char ip2[16];
  ASSERT_EQ(getIfIp("br0", ip2), 0);
  EXPECT_STREQ(ip2, "192.168.0.1");
}

TEST_F(IfAddr, HardwareAddressRecordAndMacText) {
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
  std::string old = sysfs_mac("eth1");
  Restore back("ip link set dev eth1 down; ip link set dev eth1 address " + old + "; ip link set dev eth1 up");
  ip("link set dev eth1 down");
  ip("link set dev eth1 address 02:1a:5e:0b:cd:ef");
  ip("link set dev eth1 up");
  char mac[18];
  ASSERT_EQ(getIfMac("eth1", mac), 0);
  EXPECT_STREQ(mac, "02:1A:5E:0B:CD:EF");
}

TEST_F(IfAddr, InterfaceWithoutAnAddress) {
  Marked buf;
  EXPECT_EQ(getInAddr("eth1", IFADDR_IP, buf.b), 0);
  EXPECT_TRUE(buf.untouched());
  EXPECT_EQ(getInAddr("eth1", IFADDR_NETMASK, buf.b), 0);
  EXPECT_TRUE(buf.untouched());
  EXPECT_EQ(getIfIp("eth1", buf.b), -1);
  EXPECT_TRUE(buf.untouched());
  // It exists all the same: its hardware address answers.
  EXPECT_EQ(getInAddr("eth1", IFADDR_HWADDR, buf.b), 1);
  // The WAN (eth1 in gateway mode with DHCP) therefore has no address yet.
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_STREQ(getWanNetmask(), "0.0.0.0");
}

TEST_F(IfAddr, MissingInterfaceAndRefusedSelectors) {
  for (int which : {IFADDR_IP, IFADDR_NETMASK, IFADDR_HWADDR, 1}) {
    Marked buf;
    EXPECT_EQ(getInAddr("nosuch0", which, buf.b), 0) << which;
    EXPECT_TRUE(buf.untouched()) << which;
  }
  Marked buf;
  EXPECT_EQ(getIfIp("nosuch0", buf.b), -1);
  EXPECT_EQ(getIfMac("nosuch0", buf.b), -1);
  EXPECT_EQ(getInAddr("", IFADDR_IP, buf.b), 0);
  EXPECT_EQ(getInAddr(nullptr, IFADDR_IP, buf.b), 0);
  EXPECT_TRUE(buf.untouched());
  // br0 exists and has an address, but only 2, 4 and 8 are selectors.
  for (int which : {0, 1, 3, 6, 16, -2}) {
    EXPECT_EQ(getInAddr("br0", which, buf.b), 0) << which;
    EXPECT_TRUE(buf.untouched()) << which;
  }
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
  Restore flush("ip addr flush dev eth1");
  ip("addr add 172.16.5.9/16 dev eth1");
  const char *first = getWanIp();
  EXPECT_STREQ(first, "172.16.5.9");
  EXPECT_STREQ(getWanNetmask(), "255.255.0.0");
  // One static buffer: the next call returns the same pointer.
  EXPECT_EQ(getWanIp(), first);
  EXPECT_EQ(getWanMac(), upper(sysfs_mac("eth1")));

  // PPP: ppp0 does not exist here, so no address; the MAC is the wired port's.
  store("WAN_DHCP = 3\n");
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_EQ(getWanMac(), upper(sysfs_mac("eth1")));
  store("WAN_DHCP = 16\nOP_MODE = 2\n");
  EXPECT_EQ(getWanMac(), upper(sysfs_mac("eth1")));

  // Wireless WAN: the repeater interface is missing.
  store("OP_MODE = 2\nWISP_WAN_ID = 1\n");
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_STREQ(getWanMac(), "");

  // No WAN interface can be named at all.
  store("!WISP_WAN_ID = 0\n");
  EXPECT_STREQ(getWanIp(), "0.0.0.0");
  EXPECT_STREQ(getWanNetmask(), "0.0.0.0");
  EXPECT_STREQ(getWanMac(), "");
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

}  // namespace
