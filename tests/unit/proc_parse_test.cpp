// Line parsers of the kernel's network tables and the resolver file, on fixture text: the
// layouts and names that the running kernel cannot be made to show.

#include "brimlib/net/kernel_tables.h"
#include "brimlib/net/proc_parse.h"
#include "tests/unit/unit.h"

namespace {

using brim::NetDevLayout;
using Counters = std::vector<uint64_t>;

// A record whose every byte is 0xA5, so untouched fields show.
NetDevStats marked() { NetDevStats s; std::memset(&s, 0xA5, sizeof s); return s; }
constexpr uint64_t M32 = 0xA5A5A5A5u, M64 = 0xA5A5A5A5A5A5A5A5ull;

// The sixteen named counters in the kernel's column order (receive, then transmit).
Counters counters(const NetDevStats &s) {
  return {s.rx_bytes,       s.rx_packets,     s.rx_errors,  s.rx_dropped,        s.rx_fifo_errors, s.rx_frame_errors,
          s.rx_compressed,  s.rx_multicast,   s.tx_bytes,   s.tx_packets,        s.tx_errors,      s.tx_dropped,
          s.tx_fifo_errors, s.collisions,     s.tx_carrier_errors, s.tx_compressed};
}

bool spares_untouched(const NetDevStats &s) {
  const NetDevStats m = marked();
  return !std::memcmp(s.spare_a, m.spare_a, sizeof s.spare_a) && !std::memcmp(s.spare_b, m.spare_b, sizeof s.spare_b) &&
         !std::memcmp(s.spare_c, m.spare_c, sizeof s.spare_c);
}

constexpr const char kHeader1[] = "Inter-|   Receive                                                |  Transmit\n";
constexpr const char kHeader2Compressed[] =
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";
constexpr const char kHeader2Bytes[] =
    " face |bytes    packets errs drop fifo frame|bytes    packets errs drop fifo colls carrier\n";
constexpr const char kHeader2Plain[] = " face |packets errs drop fifo frame|packets errs drop fifo colls carrier\n";

TEST(NetDevLayout, ChosenBySecondHeaderLine) {
  for (auto [h, l] : {std::pair{kHeader2Compressed, NetDevLayout::Compressed}, {kHeader2Bytes, NetDevLayout::Bytes},
                      {kHeader2Plain, NetDevLayout::Plain}, {"", NetDevLayout::Plain}})
    EXPECT_EQ(brim::netdev_layout(h), l) << h;
}

TEST(NetDevLine, EachLayoutFillsItsCountersAndNothingElse) {
  struct Case { const char *line; NetDevLayout layout; Counters want; } cases[] = {
      // 64-bit counters above 2^32 land whole.
      {"  eth0: 5000000000 4294967301 1 2 3 4 5 6 9000000000 4294967302 7 8 9 10 11 12\n", NetDevLayout::Compressed,
       {5000000000ull, 4294967301ull, 1, 2, 3, 4, 5, 6, 9000000000ull, 4294967302ull, 7, 8, 9, 10, 11, 12}},
      // No multicast column: zeroed; no compressed columns: untouched.
      {"  eth0:1000 10 1 2 3 4 2000 20 5 6 7 8 9", NetDevLayout::Bytes,
       {1000, 10, 1, 2, 3, 4, M32, 0, 2000, 20, 5, 6, 7, 8, 9, M32}},
      // No byte counts either: those are zeroed too.
      {"  eth0: 10 1 2 3 4 20 5 6 7 8 9", NetDevLayout::Plain, {0, 10, 1, 2, 3, 4, M32, 0, 0, 20, 5, 6, 7, 8, 9, M32}},
      // The scan stops at the first thing that is not a number; missing counters keep their content.
      {"eth0: 100 7 x 9", NetDevLayout::Compressed,
       {100, 7, M32, M32, M32, M32, M32, M32, M64, M64, M32, M32, M32, M32, M32, M32}},
      // A sign is taken as strtoull takes it: -1 is the largest counter.
      {"eth0: -1 +5 -2", NetDevLayout::Compressed,
       {~0ull, 5, 0xFFFFFFFEu, M32, M32, M32, M32, M32, M64, M64, M32, M32, M32, M32, M32, M32}},
      // A 32-bit counter keeps the low word, as the kernel's own would; an absurd digit run overruns nothing.
      {"eth0: 1 2 4294967297 8589934595 99999999999999999999999 6", NetDevLayout::Compressed,
       {1, 2, 1, 3, 0xF67FFFFFu, 6, M32, M32, M64, M64, M32, M32, M32, M32, M32, M32}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    NetDevStats s = marked();
    ASSERT_TRUE(brim::parse_netdev_line(c.line, "eth0", c.layout, s));
    EXPECT_EQ(counters(s), c.want);
    EXPECT_TRUE(spares_untouched(s));
  }
}

TEST(NetDevName, AliasesGluedCountersAndExactNames) {
  for (auto [line, want_name, want_rest] :
       {std::tuple{"  eth0:1: 5 6 7", "eth0:1", " 5 6 7"}, {"  eth0:123 456 7", "eth0", "123 456 7"},  // glued
        {"eth0::9", "eth0:", "9"},     // an empty run of digits is still an alias
        {"  lo 1 2", "lo", " 1 2"}}) {  // old kernels: white space after the name
    std::string_view name, rest;
    brim::split_netdev_line(line, name, rest);
    EXPECT_EQ(name, want_name) << line;
    EXPECT_EQ(rest, want_rest) << line;
  }
  // Names far beyond IFNAMSIZ are compared, never copied into a fixed field.
  const std::string longname(300, 'w');
  for (auto [line, want, rx_bytes] :  // rx_bytes M64: the line was not taken
       {std::tuple{std::string("eth0:1: 5 6"), std::string("eth0"), M64}, {"eth0:1: 5 6", "eth0:1", 5},
        {"eth0:123 456", "eth0:1", M64}, {"eth0:123 456", "eth0", 123}, {"eth10: 1 2", "eth1", M64},
        {"ETH1: 1 2", "eth1", M64}, {"", "eth1", M64}, {longname + ": 1 2", std::string(15, 'w'), M64},
        {longname + ": 1 2", longname, 1}}) {
    NetDevStats s = marked();
    EXPECT_EQ(brim::parse_netdev_line(line, want, NetDevLayout::Compressed, s), rx_bytes != M64) << line << "/" << want;
    EXPECT_EQ(s.rx_bytes, rx_bytes) << line << "/" << want;
  }
}

// A /proc/net/dev text in a real file, read through the same stream reader getStats uses.
int stats_from_text(const std::string &text, const char *ifname, NetDevStats &s) {
  FILE *f = unit::stream_of(text);
  if (f == nullptr) return -2;
  int rc = brim::netdev_stats_from(f, ifname, s);
  std::fclose(f);
  return rc;
}

TEST(NetDevFile, LayoutFromHeaderAbsentInterfacesAndOverLongLines) {
  std::string bytes = std::string(kHeader1) + kHeader2Bytes + "    lo:  50 5 0 0 0 0 50 5 0 0 0 0 0\n" +
                      "  eth0:1: 70 7 0 0 0 0 80 8 0 0 0 0 0\n  eth0:1000 10 1 2 3 4 2000 20 5 6 7 8 9\n";
  NetDevStats s = marked();
  ASSERT_EQ(stats_from_text(bytes, "eth0", s), 0);
  EXPECT_EQ(counters(s), (Counters{1000, 10, 1, 2, 3, 4, M32, 0, 2000, 20, 5, 6, 7, 8, 9, M32}));

  const NetDevStats m = marked();
  NetDevStats t = marked();  // headers only and short, or empty: untouched
  EXPECT_EQ(stats_from_text(bytes, "eth2", t) + stats_from_text(kHeader1, "eth0", t) + stats_from_text("", "eth0", t), -3);
  EXPECT_EQ(std::memcmp(&t, &m, sizeof t), 0);

  std::string plain = std::string(kHeader1) + kHeader2Plain + "  eth0: 10 1 2 3 4 20 5 6 7 8 9";  // no final newline
  ASSERT_EQ(stats_from_text(plain, "eth0", s), 0);
  EXPECT_EQ(s.tx_packets * 10 + s.rx_bytes, 200u);

  // A line longer than the reader's buffer whose tail looks like another interface's line.
  std::string junk = "  bad0: " + std::string(503, '1') + " eth7: 42 43\n";
  std::string text = std::string(kHeader1) + kHeader2Compressed + junk + "  eth8: 1 2\n";
  EXPECT_EQ(stats_from_text(text, "eth7", t) + stats_from_text(text, "bad0", t), -2);
  EXPECT_EQ(std::memcmp(&t, &m, sizeof t), 0);
  ASSERT_EQ(stats_from_text(text, "eth8", s), 0);
  EXPECT_EQ(s.rx_packets, 2u);
}

TEST(ArpLine, ExactAddressAndWordsThatFit) {
  const std::string entry = "192.168.0.10     0x1         0x2         aa:bb:cc:dd:ee:0f     *        br0\n";
  const std::string longip(40, '1');
  for (auto [line, ip, found, want] : {
           std::tuple{std::string("IP address  HW type  Flags  HW address  Mask  Device\n"), std::string("IP"), false, ""},
           {entry, "192.168.0.10", true, "aa:bb:cc:dd:ee:0f"}, {entry, "192.168.0.1", false, ""},
           {entry, "192.168.0.100", false, ""},
           {"10.0.0.1 0x1 0x2", "10.0.0.1", true, ""},  // fewer than four words: an entry without an address
           // Long words are not cut: an InfiniBand-style hardware address, an over-long IP.
           {"10.0.0.2 0x20 0x2 " + std::string(59, 'a') + " * ib0", "10.0.0.2", false, ""},
           {longip + " 0x1 0x2 aa:bb:cc:dd:ee:ff * br0", longip, false, ""}}) {
    std::string_view mac = "stale";
    EXPECT_EQ(brim::parse_arp_line(line, ip, mac), found) << line;
    if (found) EXPECT_EQ(mac, want) << line;
  }
}

constexpr const char kRouteHeader[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(RouteGatewayLine, UpGatewayRoutesOfTheInterfaceWithWordsThatFit) {
  const std::string n16(16, 'n'), n17(17, 'n');
  for (auto [line, ifname, gw_want] : {  // gateway 7: not found, untouched
           std::tuple{std::string(kRouteHeader), std::string("Iface"), 7u},
           {"eth1\t004D0A0A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", "eth1", 7u},  // no gateway flag
           {"eth1\t00000000\tFE4D0A0A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", "eth1", 7u},  // down
           {"br0\t00000000\tFE00A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", "eth1", 7u},   // another interface
           // Not the default route, still taken; read back as the kernel wrote it (network order).
           {"eth1\t0000580A\tFE4D0A0A\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n", "eth1", 0xFE4D0A0Au},
           {"eth1 0 0101A8C0 3 0 0 0 0 0 0", "eth1", 0x0101A8C0u},  // ten values are enough
           {"eth1 0 0101A8C0 3 1 19 9 0 1500 0", "eth1", 0x0101A8C0u},  // decimal counts, metric and MTU
           {"eth1 0 0101A8C0 3 0 0 0 0 0", "eth1", 7u},             // nine are not
           {n16 + " 0 0101A8C0 3 0 0 0 0 0 0 0", n16, 0x0101A8C0u}, {n17 + " 0 0101A8C0 3 0 0 0 0 0 0 0", n17, 7u},
           {"eth1 " + std::string(129, '0') + " 0101A8C0 3 0 0 0 0 0 0 0", "eth1", 7u},
           {"eth1 0 1FFFFFFFF 3 0 0 0 0 0 0 0", "eth1", 7u},  // no 32-bit hexadecimal number
           {"eth1 0 G101A8C0 3 0 0 0 0 0 0 0", "eth1", 7u}}) {
    uint32_t gw = 7;
    EXPECT_EQ(brim::parse_route_gateway_line(line, ifname, gw), gw_want != 7u) << line;
    EXPECT_EQ(gw, gw_want) << line;
  }
}

TEST(RouteLine, SevenValuesAfterTheName) {
  brim::RouteLine r;
  ASSERT_TRUE(brim::parse_route_line("eth1\t00000000\tFE4D0A0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", r));
  EXPECT_EQ((std::vector<uint32_t>{r.destination, r.gateway, r.flags}), (std::vector<uint32_t>{0, 0xFE4D0A0Au, 3}));
  EXPECT_TRUE(brim::parse_route_line("eth1 0 0 1 0 0 9 0", r));  // exactly seven
  for (const char *bad : {kRouteHeader, "eth1 0 0 1 0 0 0", "eth1", "eth1 0 0 1 0 zz 0 0"})
    EXPECT_FALSE(brim::parse_route_line(bad, r)) << bad;
}

TEST(NameserverLine, ServersThatFitAndThoseThatDoNot) {
  std::string_view server;
  // A file written with CR LF line ends (some DHCP clients' scripts) gives the server without the CR.
  for (auto [line, want] : {std::pair{"nameserver 8.8.4.4\n", "8.8.4.4"}, {"nameserver 9.9.9.9\r\n", "9.9.9.9"},
                            {"nameserver\t255.255.255.255 # longest", "255.255.255.255"}}) {
    ASSERT_TRUE(brim::parse_nameserver_line(line, server)) << line;
    EXPECT_EQ(server, want);
  }
  // IPv6 and 16 characters are skipped, not cut; no server gives no stale text either.
  for (const char *skip : {"nameserver 2001:db8:85a3::8a2e:370:7334\n", "nameserver 1234567890123456",
                           "nameserver\n", "# nameserver 1.1.1.1", "  nameserver 1.1.1.1", "search lan"})
    EXPECT_FALSE(brim::parse_nameserver_line(skip, server)) << skip;
}

}  // namespace
