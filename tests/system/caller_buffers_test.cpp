// Every function that writes into a caller's buffer, given exactly the size the header promises,
// and the router set up so that each writes its longest text. The buffer ends where an
// inaccessible page begins, so a byte written or read past it faults; each call runs in a child,
// where a fault is a failed row rather than the end of the suite.
#include <arpa/inet.h>
#include <sys/mman.h>

#include <cstring>
#include <functional>

#include "brimlib.h"
#include "tests/support/in_child.h"
#include "tests/support/sandbox_env.h"
#include "tests/support/wireless_double.h"

namespace {

using namespace brim_test;

// `size` bytes of `fill` (unterminated) that end at an inaccessible page.
char *guarded(size_t size, char fill = 'x') {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  auto *base = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (base == MAP_FAILED || mprotect(base + page, page, PROT_NONE) != 0) std::abort();
  std::memset(base + page - size, fill, size);
  return base + page - size;
}

std::string lease_texts() {  // all four of getOneDhcpClient's buffers at once
  DhcpLeaseRecord rec;
  std::memset(&rec, 'h', sizeof rec);
  std::memset(rec.chaddr, 0xAB, sizeof rec.chaddr);
  rec.yiaddr = htonl(0xFFFFFFFEu);
  rec.expires = htonl(4000000000u);  // ten digits, cut to nine
  std::memcpy(rec.hostname_len, "99", 3);
  char *cursor = reinterpret_cast<char *>(&rec);
  uint32_t left = sizeof rec;
  char *ip = guarded(BRIM_LEASE_IP_SIZE), *mac = guarded(BRIM_LEASE_MAC_SIZE);
  char *lease = guarded(BRIM_LEASE_TIME_SIZE), *host = guarded(BRIM_LEASE_HOST_SIZE);
  int rc = getOneDhcpClient(&cursor, &left, ip, mac, lease, host);
  return std::to_string(rc) + " " + ip + " " + mac + " " + lease + " " + std::to_string(std::strlen(host));
}

class CallerBuffers : public SandboxTest {
 protected:
  void prepare() override {
    wireless_double::reset();
    wireless_double::declare_ethernet("eth1").link_state = 0;
    // An interface, an ARP entry and a default route whose texts take every digit they can.
    BRIM_SH("ip link add gp0 address 02:00:00:00:00:0b type veth peer name gp1 && ip link set gp0 up && ip link set gp1 up && "
            "ip addr add 100.100.100.100/32 dev gp0 && ip route add 100.100.100.101/32 dev gp0 && "
            "ip route add default via 100.100.100.101 dev gp0 metric 1 && "
            "ip neigh add 100.100.100.102 lladdr 02:00:00:00:00:0a dev gp0 nud permanent");
  }
  void cleanup() override {
    run_shell("ip link del gp0; echo 0 > /var/wanconnect; rm -f /tmp/brim_md5_me");
    wireless_double::reset();
  }
};

TEST_F(CallerBuffers, EveryWriterStaysWithinTheDocumentedSize) {
  load_store("IP_ADDR = 255.255.255.254\nSUBNET_MASK = 255.255.255.255\nOP_MODE = 2\nWAN_DHCP = 0\n"
             "WISP_WAN_ID = -2147483648\n");
  ASSERT_TRUE(write_file("/tmp/brim_md5_me", "abc"));
  const std::string token(127, 't');
  // A call on a buffer of `size`, its result, and the text it leaves there (read no further).
  const struct Row {
    const char *name;
    size_t size;
    std::function<int(char *)> call;
    std::string want;
  } rows[] = {
      {"getLanIp", BRIM_IPV4_TEXT_SIZE, [](char *b) { return getLanIp(b) == b; }, "1 255.255.255.254"},
      {"getLanNetmask", BRIM_IPV4_TEXT_SIZE, [](char *b) { return getLanNetmask(b) == b; }, "1 255.255.255.255"},
      {"getInAddr", BRIM_IPV4_TEXT_SIZE, [](char *b) { return getInAddr("gp0", IFADDR_NETMASK, b); }, "1 255.255.255.255"},
      {"getIfIp", BRIM_IPV4_TEXT_SIZE, [](char *b) { return getIfIp("gp0", b); }, "0 100.100.100.100"},
      {"getIfMac", BRIM_MAC_TEXT_SIZE, [](char *b) { return getIfMac("gp0", b); }, "0 02:00:00:00:00:0B"},
      {"arplookup", BRIM_MAC_TEXT_SIZE, [](char *b) { return arplookup("100.100.100.102", b), 0; }, "0 02:00:00:00:00:0a"},
      {"getRealGateway", BRIM_IPV4_TEXT_SIZE, [](char *b) { return getRealGateway(b), 0; }, "0 100.100.100.101"},
      {"getWanIfName", BRIM_WAN_IFNAME_SIZE, [](char *b) { return std::memset(b, 0, BRIM_WAN_IFNAME_SIZE), getWanIfName(b), 0; }, "0 wlan-2147483648-vxd"},
      {"getWanConnectMode", BRIM_WAN_CONNECT_MODE_SIZE, [](char *b) { return getWanConnectMode(b), 0; }, "0 STATIC"},
      {"get_wan_connect_status", BRIM_WAN_CONNECT_STATUS_SIZE, [](char *b) { return get_wan_connect_status(b), 0; }, "0 disconnected"},
      {"Cal_file_md5", BRIM_MD5_TEXT_SIZE, [](char *b) { return Cal_file_md5("/tmp/brim_md5_me", b); }, "0 " + md5_hex("abc")},
      {"checkVar", BRIM_TOKEN_SIZE, [&](char *b) { return checkVar(token.c_str(), 1, b); }, "0 " + token},
      // The command runners with their own size: an unterminated buffer, a silent command, a long line.
      {"getCmdResult silent", 8, [](char *b) { return getCmdResult("true", b, 8); }, "0 xxxxxxx"},
      {"getCmdResult long", 8, [](char *b) { return getCmdResult("echo 0123456789", b, 8); }, "0 0123456"},
      {"getCmdStr silent", 8, [](char *b) { return getCmdStr("true", b, 8); }, "-1 "},
      {"getCmdStr long", 8, [](char *b) { return getCmdStr("echo 0123456789", b, 8); }, "0 0123456"},
  };
  for (const Row &row : rows) {
    std::string got = in_child([&] {
      char *b = guarded(row.size);
      int rc = row.call(b);
      return std::to_string(rc) + " " + std::string(b, strnlen(b, row.size));
    });
    EXPECT_EQ(got, row.want) << row.name;
  }
  EXPECT_EQ(in_child(lease_texts), "1 255.255.255.254 AB:AB:AB:AB:AB:AB 400000000 56");
  // The WAN's time: exact below ten days, then the longest text that fits.
  load_store("OP_MODE = 0\n");
  for (const auto &[seconds, want] : {std::pair{"863999", "9;23;59;59"}, {"864000", "9;23;59;59"}, {"900610", "9;23;59;59"},
                                      {"4294967295", "9;23;59;59"}, {"90061", "1;1;1;1"}}) {
    ASSERT_TRUE(write_file("/var/wanconnect", seconds));
    EXPECT_EQ(in_child([] { char *b = guarded(BRIM_WAN_LINKTIME_SIZE); getWanLinktime(b); return std::string(b); }), want) << seconds;
  }
}

}  // namespace
