// The DHCP lease walker over records laid out byte by byte; the record layout is checked in
// layout_test.cpp.
#include <arpa/inet.h>
#include "tests/unit/unit.h"

namespace {

struct Lease {
  std::vector<unsigned char> mac{0x00, 0x1a, 0x2b, 0xcc, 0xdd, 0xef};
  uint32_t seconds = 3600;
  std::string name = "laptop";
  std::string len_text = "6";
};

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
  Out() { std::memset(this, '#', sizeof *this); }
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
  Out o, untouched;
  EXPECT_EQ(w.next(o), 1);
  EXPECT_EQ(std::string(o.ip) + " " + o.mac + " " + o.lease + " " + o.host, "192.168.1.23 00:1A:2B:CC:DD:EF 3600 laptop");
  EXPECT_EQ(w.next(untouched), 0);
  EXPECT_EQ(untouched.ip[0] + untouched.host[0], 2 * '#');
  EXPECT_EQ(w.next(untouched), -1);
  EXPECT_EQ(w.left, 1u);
  EXPECT_EQ(w.cursor, w.data.data() + 184);

  std::vector<char> shorter = record(Lease{});
  shorter.resize(91);
  Walk s(shorter);
  EXPECT_EQ(s.next(untouched), -1);
  EXPECT_TRUE(s.cursor == s.data.data() && s.left == 91u && untouched.mac[0] == '#');

  std::vector<char> odd(1, 'x');  // a record at an odd address
  odd.insert(odd.end(), shorter.begin(), shorter.end());
  odd.push_back(0);
  Walk u(odd);
  u.cursor += 1, u.left -= 1;
  Out uo;
  EXPECT_EQ(u.next(uo), 1);
  EXPECT_STREQ(uo.host, "laptop");
  EXPECT_EQ(u.left, 0u);
}

// The one record of `l`: its result, and the output texts ("#..." where nothing was written).
int one(const Lease &l, Out &o) {
  Walk w(record(l));
  return w.next(o);
}

TEST(DhcpLease, FieldTexts) {
  for (auto [seconds, text] : {std::pair{0xFFFFFFFFu, "MM_Always"}, {4294967294u, "429496729"}, {1u, "1"}}) {
    Lease l;
    Out o;
    l.seconds = seconds;
    EXPECT_EQ(one(l, o), 1);
    EXPECT_STREQ(o.lease, text) << seconds;  // ten digits are cut to the first nine
  }
  // All sixteen hardware bytes zero: unused; non-zero past the MAC still counts as used.
  Lease l;
  l.mac.assign(6, 0);
  Out unused, used;
  EXPECT_EQ(one(l, unused), 0);
  EXPECT_EQ(unused.lease[0], '#');
  l.mac.assign(16, 0);
  l.mac[15] = 1;
  EXPECT_EQ(one(l, used), 1);
  EXPECT_STREQ(used.mac, "00:00:00:00:00:00");
  // The host name goes by its length text, and never outside its 56-byte field.
  const std::string n56(56, 'N');  // the field filled, no terminator
  for (auto [name, len_text, host] :
       {std::tuple{"kitchen-tablet", "5", "kitch"}, {"kitchen-tablet", "0", "Unknown"},
        {"kitchen-tablet", "abc", "Unknown"}, {"kitchen-tablet", "7x", "kitchen"}, {n56.c_str(), "200", n56.c_str()},
        {n56.c_str(), "999999999999", n56.c_str()},  // twelve digits and no terminator
        {n56.c_str(), "-5", "Unknown"}, {n56.c_str(), "57", n56.c_str()}, {n56.c_str(), "56", n56.c_str()}}) {
    Lease h;
    Out o;
    h.name = name, h.len_text = len_text;
    EXPECT_EQ(one(h, o), 1);
    EXPECT_EQ(std::string(o.host, strnlen(o.host, sizeof o.host)), host) << len_text;
  }
}

}  // namespace
