// The DHCP lease walker over records laid out byte by byte; the record layout is checked in
// layout_test.cpp.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"

namespace {

struct Lease {
  std::vector<unsigned char> mac{0x00, 0x1a, 0x2b, 0xcc, 0xdd, 0xef};
  uint32_t seconds = 3600;
  std::string name = "laptop";
  std::string len_text = "6";
};

// Lays a record out byte by byte, as the DHCP server writes it.
std::vector<char> record(const Lease &l) {
  std::vector<char> r(92, 0);
  std::memcpy(r.data(), l.mac.data(), l.mac.size());
  in_addr a{};
  inet_pton(AF_INET, "192.168.1.23", &a);
  std::memcpy(r.data() + 16, &a.s_addr, 4);
  for (int i = 0; i < 4; ++i) r[20 + i] = static_cast<char>(l.seconds >> (24 - 8 * i));
  std::memcpy(r.data() + 24, l.name.data(), std::min<size_t>(l.name.size(), 56));
  std::memcpy(r.data() + 80, l.len_text.data(), std::min<size_t>(l.len_text.size(), 12));
  return r;
}

struct Out {
  char ip[16], mac[20], lease[10], host[64];
  Out() {
    std::memset(ip, '#', sizeof ip);
    std::memset(mac, '#', sizeof mac);
    std::memset(lease, '#', sizeof lease);
    std::memset(host, '#', sizeof host);
  }
};

// Walks the data in a buffer exactly its size (so the sanitizer sees any overrun).
struct Walk {
  explicit Walk(const std::vector<char> &d) : data(d), cursor(data.data()), left(static_cast<uint32_t>(data.size())) {}
  int next(Out &o) { return getOneDhcpClient(&cursor, &left, o.ip, o.mac, o.lease, o.host); }
  std::vector<char> data;
  char *cursor;
  uint32_t left;
};

TEST(DhcpLease, WalkUsedUnusedThenEndAndShortOrUnalignedData) {
  std::vector<char> data = record(Lease{});
  Lease unused;
  unused.seconds = 0;
  auto r2 = record(unused);
  data.insert(data.end(), r2.begin(), r2.end());
  data.push_back(0x55);  // a trailing byte is never consumed
  Walk w(data);
  Out o;
  EXPECT_EQ(w.next(o), 1);
  EXPECT_STREQ(o.ip, "192.168.1.23");
  EXPECT_STREQ(o.mac, "00:1A:2B:CC:DD:EF");
  EXPECT_STREQ(o.lease, "3600");
  EXPECT_STREQ(o.host, "laptop");
  Out untouched;
  EXPECT_EQ(w.next(untouched), 0);
  EXPECT_EQ(untouched.ip[0], '#');
  EXPECT_EQ(untouched.host[0], '#');
  EXPECT_EQ(w.next(untouched), -1);
  EXPECT_EQ(w.left, 1u);
  EXPECT_EQ(w.cursor, w.data.data() + 184);

  std::vector<char> shorter = record(Lease{});
  shorter.resize(91);
  Walk s(shorter);
  EXPECT_EQ(s.next(untouched), -1);
  EXPECT_EQ(s.cursor, s.data.data());
  EXPECT_EQ(s.left, 91u);
  EXPECT_EQ(untouched.mac[0], '#');

  std::vector<char> odd(1, 'x');  // a record at an odd address
  odd.insert(odd.end(), shorter.begin(), shorter.end());
  odd.push_back(0);
  Walk u(odd);
  u.cursor += 1;
  u.left -= 1;
  Out uo;
  EXPECT_EQ(u.next(uo), 1);
  EXPECT_STREQ(uo.host, "laptop");
  EXPECT_EQ(u.left, 0u);
}

TEST(DhcpLease, FieldTexts) {
  const std::string n56(56, 'N');  // the name field filled, no terminator
  struct Case {
    uint32_t seconds;
    std::vector<unsigned char> mac;  // empty: the default
    std::string name, len_text;
    int rc;
    std::string lease, mac_text, host;  // "" when not compared
  } cases[] = {
      {0xFFFFFFFFu, {}, "laptop", "6", 1, "MM_Always", "", ""},
      {4294967294u, {}, "laptop", "6", 1, "429496729", "", ""},  // ten digits: cut to the first nine
      {1, {}, "laptop", "6", 1, "1", "", ""},
      // All sixteen hardware bytes zero: unused; non-zero past the MAC still counts as used.
      {3600, {0, 0, 0, 0, 0, 0}, "laptop", "6", 0, "", "", ""},
      {3600, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "laptop", "6", 1, "", "00:00:00:00:00:00", ""},
      // The host name goes by its length text, and never outside its field.
      {3600, {}, "kitchen-tablet", "5", 1, "", "", "kitch"},
      {3600, {}, "kitchen-tablet", "0", 1, "", "", "Unknown"},
      {3600, {}, "kitchen-tablet", "abc", 1, "", "", "Unknown"},
      {3600, {}, "kitchen-tablet", "7x", 1, "", "", "kitchen"},
      {3600, {}, n56, "200", 1, "", "", n56},
      {3600, {}, n56, "999999999999", 1, "", "", n56},  // twelve digits and no terminator
      {3600, {}, n56, "-5", 1, "", "", "Unknown"},
      {3600, {}, n56, "57", 1, "", "", n56},
      {3600, {}, n56, "56", 1, "", "", n56},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.seconds) + " " + c.name + " " + c.len_text);
    Lease l;
    l.seconds = c.seconds;
    if (!c.mac.empty()) l.mac = c.mac;
    l.name = c.name;
    l.len_text = c.len_text;
    Walk w(record(l));
    Out o;
    EXPECT_EQ(w.next(o), c.rc);
    if (c.rc == 0) EXPECT_EQ(o.lease[0], '#');
    if (!c.lease.empty()) EXPECT_STREQ(o.lease, c.lease.c_str());
    if (!c.mac_text.empty()) EXPECT_STREQ(o.mac, c.mac_text.c_str());
    if (!c.host.empty()) EXPECT_EQ(std::string(o.host, strnlen(o.host, sizeof o.host)), c.host);
  }
}

}  // namespace
