// Line parsers of the kernel's network tables and the resolver file, on fixture text: the
// layouts and names that the running kernel cannot be made to show.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "brimlib.h"
#include "brimlib/net/kernel_tables.h"
#include "brimlib/net/proc_parse.h"

namespace {

using brim::NetDevLayout;

// A record whose every byte is 0xA5, so untouched fields show.
NetDevStats marked() {
  NetDevStats s;
  std::memset(&s, 0xA5, sizeof s);
  return s;
}
constexpr uint32_t kMark32 = 0xA5A5A5A5u;
constexpr uint64_t kMark64 = 0xA5A5A5A5A5A5A5A5ull;

bool spares_untouched(const NetDevStats &s) {
  for (uint32_t v : s.spare_a)
    if (v != kMark32) return false;
  for (uint32_t v : s.spare_b)
    if (v != kMark32) return false;
  for (uint32_t v : s.spare_c)
    if (v != kMark32) return false;
  return true;
}

constexpr const char kHeader1[] = "Inter-|   Receive                                                |  Transmit\n";
constexpr const char kHeader2Compressed[] =
    " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls "
    "carrier compressed\n";
constexpr const char kHeader2Bytes[] =
    " face |bytes    packets errs drop fifo frame|bytes    packets errs drop fifo colls carrier\n";
constexpr const char kHeader2Plain[] = " face |packets errs drop fifo frame|packets errs drop fifo colls carrier\n";

TEST(NetDevLayout, ChosenBySecondHeaderLine) {
  EXPECT_EQ(brim::netdev_layout(kHeader2Compressed), NetDevLayout::Compressed);
  EXPECT_EQ(brim::netdev_layout(kHeader2Bytes), NetDevLayout::Bytes);
  EXPECT_EQ(brim::netdev_layout(kHeader2Plain), NetDevLayout::Plain);
  EXPECT_EQ(brim::netdev_layout(""), NetDevLayout::Plain);
}

TEST(NetDevLine, CompressedLayoutFillsAllSixteenInOrder) {
  NetDevStats s = marked();
  // 64-bit counters above 2^32 must land whole.
  ASSERT_TRUE(brim::parse_netdev_line(
      "  eth1: 5000000000 4294967301 1 2 3 4 5 6 9000000000 4294967302 7 8 9 10 11 12\n", "eth1",
      NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_bytes, 5000000000ull);
  EXPECT_EQ(s.rx_packets, 4294967301ull);
  EXPECT_EQ(s.rx_errors, 1u);
  EXPECT_EQ(s.rx_dropped, 2u);
  EXPECT_EQ(s.rx_fifo_errors, 3u);
  EXPECT_EQ(s.rx_frame_errors, 4u);
  EXPECT_EQ(s.rx_compressed, 5u);
  EXPECT_EQ(s.rx_multicast, 6u);
  EXPECT_EQ(s.tx_bytes, 9000000000ull);
  EXPECT_EQ(s.tx_packets, 4294967302ull);
  EXPECT_EQ(s.tx_errors, 7u);
  EXPECT_EQ(s.tx_dropped, 8u);
  EXPECT_EQ(s.tx_fifo_errors, 9u);
  EXPECT_EQ(s.collisions, 10u);
  EXPECT_EQ(s.tx_carrier_errors, 11u);
  EXPECT_EQ(s.tx_compressed, 12u);
  EXPECT_TRUE(spares_untouched(s));
}

TEST(NetDevLine, BytesLayoutZeroesMulticastAndLeavesCompressed) {
  NetDevStats s = marked();
  ASSERT_TRUE(brim::parse_netdev_line("  eth0:1000 10 1 2 3 4 2000 20 5 6 7 8 9", "eth0", NetDevLayout::Bytes, s));
  EXPECT_EQ(s.rx_bytes, 1000u);
  EXPECT_EQ(s.rx_packets, 10u);
  EXPECT_EQ(s.rx_errors, 1u);
  EXPECT_EQ(s.rx_dropped, 2u);
  EXPECT_EQ(s.rx_fifo_errors, 3u);
  EXPECT_EQ(s.rx_frame_errors, 4u);
  EXPECT_EQ(s.tx_bytes, 2000u);
  EXPECT_EQ(s.tx_packets, 20u);
  EXPECT_EQ(s.tx_errors, 5u);
  EXPECT_EQ(s.tx_dropped, 6u);
  EXPECT_EQ(s.tx_fifo_errors, 7u);
  EXPECT_EQ(s.collisions, 8u);
  EXPECT_EQ(s.tx_carrier_errors, 9u);
  EXPECT_EQ(s.rx_multicast, 0u);
  EXPECT_EQ(s.rx_compressed, kMark32);
  EXPECT_EQ(s.tx_compressed, kMark32);
  EXPECT_TRUE(spares_untouched(s));
}

TEST(NetDevLine, PlainLayoutZeroesByteCountsAndMulticast) {
  NetDevStats s = marked();
  ASSERT_TRUE(brim::parse_netdev_line("  eth0: 10 1 2 3 4 20 5 6 7 8 9", "eth0", NetDevLayout::Plain, s));
  EXPECT_EQ(s.rx_packets, 10u);
  EXPECT_EQ(s.rx_errors, 1u);
  EXPECT_EQ(s.rx_dropped, 2u);
  EXPECT_EQ(s.rx_fifo_errors, 3u);
  EXPECT_EQ(s.rx_frame_errors, 4u);
  EXPECT_EQ(s.tx_packets, 20u);
  EXPECT_EQ(s.tx_errors, 5u);
  EXPECT_EQ(s.tx_dropped, 6u);
  EXPECT_EQ(s.tx_fifo_errors, 7u);
  EXPECT_EQ(s.collisions, 8u);
  EXPECT_EQ(s.tx_carrier_errors, 9u);
  EXPECT_EQ(s.rx_bytes, 0u);
  EXPECT_EQ(s.tx_bytes, 0u);
  EXPECT_EQ(s.rx_multicast, 0u);
  EXPECT_EQ(s.rx_compressed, kMark32);
  EXPECT_EQ(s.tx_compressed, kMark32);
}

TEST(NetDevLine, MissingCountersKeepTheirContent) {
  NetDevStats s = marked();
  ASSERT_TRUE(brim::parse_netdev_line("eth0: 100 7 x 9", "eth0", NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_bytes, 100u);
  EXPECT_EQ(s.rx_packets, 7u);
  EXPECT_EQ(s.rx_errors, kMark32);  // the scan stops at the first thing that is not a number
  EXPECT_EQ(s.tx_bytes, kMark64);
  EXPECT_EQ(s.tx_compressed, kMark32);
}

TEST(NetDevLine, ThirtyTwoBitFieldsKeepTheLowWord) {
  NetDevStats s = marked();
  // A 32-bit counter wraps as the kernel's own would; an absurd digit run overruns nothing.
  ASSERT_TRUE(brim::parse_netdev_line("eth0: 1 2 4294967297 8589934595 99999999999999999999999 6", "eth0",
                                      NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_errors, 1u);
  EXPECT_EQ(s.rx_dropped, 3u);
  EXPECT_EQ(s.rx_fifo_errors, 0xF67FFFFFu);
  EXPECT_EQ(s.rx_frame_errors, 6u);
  EXPECT_EQ(s.rx_compressed, kMark32);
}

TEST(NetDevName, AliasVersusFirstCounterGluedToTheColon) {
  std::string_view name, counters;
  brim::split_netdev_line("  eth0:1: 5 6 7", name, counters);
  EXPECT_EQ(name, "eth0:1");
  EXPECT_EQ(counters, " 5 6 7");
  brim::split_netdev_line("  eth0:123 456 7", name, counters);
  EXPECT_EQ(name, "eth0");
  EXPECT_EQ(counters, "123 456 7");
  brim::split_netdev_line("eth0::9", name, counters);  // an empty run of digits is still an alias
  EXPECT_EQ(name, "eth0:");
  EXPECT_EQ(counters, "9");
  brim::split_netdev_line("  lo 1 2", name, counters);  // old kernels: white space after the name
  EXPECT_EQ(name, "lo");
  EXPECT_EQ(counters, " 1 2");

  NetDevStats s = marked();
  EXPECT_FALSE(brim::parse_netdev_line("eth0:1: 5 6", "eth0", NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_bytes, kMark64);
  EXPECT_TRUE(brim::parse_netdev_line("eth0:1: 5 6", "eth0:1", NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_bytes, 5u);
  EXPECT_FALSE(brim::parse_netdev_line("eth0:123 456", "eth0:1", NetDevLayout::Compressed, s));
  EXPECT_TRUE(brim::parse_netdev_line("eth0:123 456", "eth0", NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_bytes, 123u);
  EXPECT_EQ(s.rx_packets, 456u);
}

TEST(NetDevName, ExactAndCaseSensitive) {
  NetDevStats s = marked();
  EXPECT_FALSE(brim::parse_netdev_line("eth10: 1 2", "eth1", NetDevLayout::Compressed, s));
  EXPECT_FALSE(brim::parse_netdev_line("ETH1: 1 2", "eth1", NetDevLayout::Compressed, s));
  EXPECT_FALSE(brim::parse_netdev_line("", "eth1", NetDevLayout::Compressed, s));
  // Names far beyond IFNAMSIZ are compared, never copied into a fixed field.
  std::string longname(300, 'w');
  EXPECT_FALSE(brim::parse_netdev_line(longname + ": 1 2", "wwwwwwwwwwwwwww", NetDevLayout::Compressed, s));
  EXPECT_TRUE(brim::parse_netdev_line(longname + ": 1 2", longname, NetDevLayout::Compressed, s));
  EXPECT_EQ(s.rx_packets, 2u);
}

// A /proc/net/dev text in a real file, read through the same stream reader getStats uses.
int stats_from_text(const std::string &text, const char *ifname, NetDevStats &s) {
  FILE *f = std::tmpfile();
  if (f == nullptr) return -2;
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  int rc = brim::netdev_stats_from(f, ifname, s);
  std::fclose(f);
  return rc;
}

TEST(NetDevFile, LayoutFromHeaderAndAbsentInterface) {
  std::string bytes = std::string(kHeader1) + kHeader2Bytes + "    lo:  50 5 0 0 0 0 50 5 0 0 0 0 0\n" +
                      "  eth0:1: 70 7 0 0 0 0 80 8 0 0 0 0 0\n  eth0:1000 10 1 2 3 4 2000 20 5 6 7 8 9\n";
  NetDevStats s = marked();
  ASSERT_EQ(stats_from_text(bytes, "eth0", s), 0);
  EXPECT_EQ(s.rx_bytes, 1000u);
  EXPECT_EQ(s.tx_carrier_errors, 9u);
  EXPECT_EQ(s.rx_multicast, 0u);
  EXPECT_EQ(s.rx_compressed, kMark32);

  NetDevStats t = marked();
  EXPECT_EQ(stats_from_text(bytes, "eth2", t), -1);
  NetDevStats m = marked();
  EXPECT_EQ(std::memcmp(&t, &m, sizeof t), 0);  // untouched
  EXPECT_EQ(stats_from_text(std::string(kHeader1), "eth0", t), -1);  // headers only, and short
  EXPECT_EQ(stats_from_text("", "eth0", t), -1);

  std::string plain = std::string(kHeader1) + kHeader2Plain + "  eth0: 10 1 2 3 4 20 5 6 7 8 9";  // no final newline
  ASSERT_EQ(stats_from_text(plain, "eth0", s), 0);
  EXPECT_EQ(s.tx_packets, 20u);
  EXPECT_EQ(s.rx_bytes, 0u);
}

TEST(NetDevFile, OverLongLineNeverLeaksATailLine) {
  // A line longer than the reader's buffer whose tail looks like another interface's line.
  std::string junk = "  bad0: " + std::string(503, '1') + " eth7: 42 43\n";
  std::string text = std::string(kHeader1) + kHeader2Compressed + junk + "  eth8: 1 2\n";
  NetDevStats s = marked();
  EXPECT_EQ(stats_from_text(text, "eth7", s), -1);
  EXPECT_EQ(s.rx_bytes, kMark64);
  EXPECT_EQ(stats_from_text(text, "bad0", s), -1);
  ASSERT_EQ(stats_from_text(text, "eth8", s), 0);
  EXPECT_EQ(s.rx_packets, 2u);
}

TEST(ArpLine, MatchesTheExactAddressOnly) {
  const char *header = "IP address       HW type     Flags       HW address            Mask     Device\n";
  const char *entry = "192.168.0.10     0x1         0x2         aa:bb:cc:dd:ee:0f     *        br0\n";
  std::string_view mac;
  EXPECT_FALSE(brim::parse_arp_line(header, "IP", mac));
  ASSERT_TRUE(brim::parse_arp_line(entry, "192.168.0.10", mac));
  EXPECT_EQ(mac, "aa:bb:cc:dd:ee:0f");
  EXPECT_FALSE(brim::parse_arp_line(entry, "192.168.0.1", mac));
  EXPECT_FALSE(brim::parse_arp_line(entry, "192.168.0.100", mac));
  // Fewer than four words: the entry is there, its hardware address is not.
  ASSERT_TRUE(brim::parse_arp_line("10.0.0.1 0x1 0x2", "10.0.0.1", mac));
  EXPECT_EQ(mac, "");
}

TEST(ArpLine, LongWordsAreNotCut) {
  std::string_view mac;
  // An InfiniBand-style hardware address: far beyond the 17 characters of a MAC text.
  std::string ib = "10.0.0.2 0x20 0x2 " + std::string(59, 'a') + " * ib0";
  EXPECT_FALSE(brim::parse_arp_line(ib, "10.0.0.2", mac));
  std::string longip(40, '1');
  EXPECT_FALSE(brim::parse_arp_line(longip + " 0x1 0x2 aa:bb:cc:dd:ee:ff * br0", longip, mac));
}

constexpr const char kRouteHeader[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(RouteGatewayLine, UpGatewayRoutesOfTheInterface) {
  uint32_t gw = 7;
  EXPECT_FALSE(brim::parse_route_gateway_line(kRouteHeader, "Iface", gw));
  EXPECT_EQ(gw, 7u);
  // Connected route: no gateway flag.
  EXPECT_FALSE(brim::parse_route_gateway_line("eth1\t004D0A0A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
                                              "eth1", gw));
  // Gateway flag but down.
  EXPECT_FALSE(brim::parse_route_gateway_line("eth1\t00000000\tFE4D0A0A\t0002\t0\t0\t0\t00000000\t0\t0\t0\n",
                                              "eth1", gw));
  // Another interface.
  EXPECT_FALSE(brim::parse_route_gateway_line("br0\t00000000\tFE00A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n",
                                              "eth1", gw));
  // Not the default route, still taken: the destination is not looked at.
  ASSERT_TRUE(brim::parse_route_gateway_line("eth1\t0000580A\tFE4D0A0A\t0003\t0\t0\t0\t0000FFFF\t0\t0\t0\n",
                                             "eth1", gw));
  EXPECT_EQ(gw, 0xFE4D0A0Au);  // 10.77.77.254 in network order, read back as the kernel wrote it
  // Ten values are enough (no IRTT); nine are not.
  EXPECT_TRUE(brim::parse_route_gateway_line("eth1 0 0101A8C0 3 0 0 0 0 0 0", "eth1", gw));
  EXPECT_EQ(gw, 0x0101A8C0u);
  gw = 7;
  EXPECT_FALSE(brim::parse_route_gateway_line("eth1 0 0101A8C0 3 0 0 0 0 0", "eth1", gw));
  EXPECT_EQ(gw, 7u);
}

TEST(RouteGatewayLine, OverLongWordsMakeTheLineUnusable) {
  uint32_t gw = 7;
  std::string name16(16, 'n'), name17(17, 'n');
  EXPECT_TRUE(brim::parse_route_gateway_line(name16 + " 0 0101A8C0 3 0 0 0 0 0 0 0", name16, gw));
  EXPECT_FALSE(brim::parse_route_gateway_line(name17 + " 0 0101A8C0 3 0 0 0 0 0 0 0", name17, gw));
  EXPECT_FALSE(brim::parse_route_gateway_line("eth1 " + std::string(129, '0') + " 0101A8C0 3 0 0 0 0 0 0 0",
                                              "eth1", gw));
  // A gateway that is no 32-bit hexadecimal number is no gateway.
  EXPECT_FALSE(brim::parse_route_gateway_line("eth1 0 1FFFFFFFF 3 0 0 0 0 0 0 0", "eth1", gw));
  EXPECT_FALSE(brim::parse_route_gateway_line("eth1 0 G101A8C0 3 0 0 0 0 0 0 0", "eth1", gw));
}

TEST(RouteLine, SevenValuesAfterTheName) {
  brim::RouteLine r;
  EXPECT_FALSE(brim::parse_route_line(kRouteHeader, r));
  ASSERT_TRUE(brim::parse_route_line("eth1\t00000000\tFE4D0A0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", r));
  EXPECT_EQ(r.destination, 0u);
  EXPECT_EQ(r.gateway, 0xFE4D0A0Au);
  EXPECT_EQ(r.flags, 3u);
  EXPECT_TRUE(brim::parse_route_line("eth1 0 0 1 0 0 0 0", r));     // exactly seven
  EXPECT_FALSE(brim::parse_route_line("eth1 0 0 1 0 0 0", r));      // six
  EXPECT_FALSE(brim::parse_route_line("eth1", r));                  // no separator at all
  EXPECT_FALSE(brim::parse_route_line("eth1 0 0 1 0 zz 0 0", r));   // a word that is no number
}

TEST(NameserverLine, ServersThatFitAndThoseThatDoNot) {
  std::string_view server;
  ASSERT_TRUE(brim::parse_nameserver_line("nameserver 8.8.4.4\n", server));
  EXPECT_EQ(server, "8.8.4.4");
  ASSERT_TRUE(brim::parse_nameserver_line("nameserver\t255.255.255.255 # longest", server));
  EXPECT_EQ(server, "255.255.255.255");
  EXPECT_FALSE(brim::parse_nameserver_line("nameserver 2001:db8:85a3::8a2e:370:7334\n", server));
  EXPECT_FALSE(brim::parse_nameserver_line("nameserver 1234567890123456", server));  // 16: skipped, not cut
  EXPECT_FALSE(brim::parse_nameserver_line("nameserver\n", server));  // no server: no stale text either
  EXPECT_FALSE(brim::parse_nameserver_line("# nameserver 1.1.1.1", server));
  EXPECT_FALSE(brim::parse_nameserver_line("  nameserver 1.1.1.1", server));
  EXPECT_FALSE(brim::parse_nameserver_line("search lan", server));
}

}  // namespace
