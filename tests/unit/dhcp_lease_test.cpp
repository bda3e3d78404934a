#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"

namespace {

struct Lease {
  std::vector<unsigned char> mac{0x00, 0x1a, 0x2b, 0xcc, 0xdd, 0xef};
  const char *ip = "192.168.1.23";
  uint32_t seconds = 3600;
  std::string name = "laptop";
  std::string len_text = "6";
};

// Lays a record out byte by byte, as the DHCP server writes it.
std::vector<char> record(const Lease &l) {
  std::vector<char> r(92, 0);
  std::memcpy(r.data(), l.mac.data(), l.mac.size());
  in_addr a{};
  inet_pton(AF_INET, l.ip, &a);
  std::memcpy(r.data() + 16, &a.s_addr, 4);
  const unsigned char t[4] = {static_cast<unsigned char>(l.seconds >> 24), static_cast<unsigned char>(l.seconds >> 16),
                              static_cast<unsigned char>(l.seconds >> 8), static_cast<unsigned char>(l.seconds)};
  std::memcpy(r.data() + 20, t, 4);
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

Out one(const Lease &l, int expect = 1) {
  Walk w(record(l));
  Out o;
  EXPECT_EQ(w.next(o), expect);
  return o;
}

TEST(DhcpLease, LayoutIsFixed) {
  EXPECT_EQ(sizeof(DhcpLeaseRecord), 92u);
  EXPECT_EQ(offsetof(DhcpLeaseRecord, yiaddr), 16u);
  EXPECT_EQ(offsetof(DhcpLeaseRecord, expires), 20u);
  EXPECT_EQ(offsetof(DhcpLeaseRecord, hostname), 24u);
  EXPECT_EQ(offsetof(DhcpLeaseRecord, hostname_len), 80u);
}

TEST(DhcpLease, WalkUsedUnusedThenEnd) {
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
  char *before = w.cursor;
  EXPECT_EQ(w.next(untouched), -1);
  EXPECT_EQ(w.cursor, before);
  EXPECT_EQ(w.left, 1u);
  EXPECT_EQ(w.cursor, w.data.data() + 184);
}

TEST(DhcpLease, ShortBufferConsumesNothing) {
  std::vector<char> data = record(Lease{});
  data.resize(91);
  Walk w(data);
  Out o;
  EXPECT_EQ(w.next(o), -1);
  EXPECT_EQ(w.cursor, w.data.data());
  EXPECT_EQ(w.left, 91u);
  EXPECT_EQ(o.mac[0], '#');
}

TEST(DhcpLease, LeaseTimeTexts) {
  Lease l;
  l.seconds = 0xFFFFFFFFu;
  EXPECT_STREQ(one(l).lease, "MM_Always");
  l.seconds = 4294967294u;  // ten digits: cut to the first nine
  EXPECT_STREQ(one(l).lease, "429496729");
  l.seconds = 1;
  EXPECT_STREQ(one(l).lease, "1");
}

TEST(DhcpLease, UnusedRecordsAreSkipped) {
  Lease l;
  l.mac.assign(6, 0);  // all sixteen hardware bytes zero
  Out o = one(l, 0);
  EXPECT_EQ(o.lease[0], '#');
  l.mac = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};  // non-zero past the MAC still counts as used
  EXPECT_STREQ(one(l).mac, "00:00:00:00:00:00");
}

TEST(DhcpLease, HostNameByLengthText) {
  Lease l;
  l.name = "kitchen-tablet";
  l.len_text = "5";
  EXPECT_STREQ(one(l).host, "kitch");
  l.len_text = "0";
  EXPECT_STREQ(one(l).host, "Unknown");
  l.len_text = "abc";
  EXPECT_STREQ(one(l).host, "Unknown");
  l.len_text = "7x";
  EXPECT_STREQ(one(l).host, "kitchen");
}

TEST(DhcpLease, HostileLengthTextsStayInsideTheField) {
  Lease l;
  l.name = std::string(56, 'N');  // the field filled, no terminator
  l.len_text = "200";
  Out o = one(l);
  EXPECT_EQ(std::string(o.host), std::string(56, 'N'));
  l.len_text = "999999999999";  // twelve digits and no terminator: the field's own bytes only
  EXPECT_EQ(std::string(one(l).host), std::string(56, 'N'));
  l.len_text = "-5";
  EXPECT_STREQ(one(l).host, "Unknown");
  l.len_text = "57";
  EXPECT_EQ(std::string(one(l).host).size(), 56u);
  l.len_text = "56";
  EXPECT_EQ(std::string(one(l).host).size(), 56u);
}

TEST(DhcpLease, UnalignedCursor) {
  std::vector<char> data(1, 'x');
  auto r = record(Lease{});
  data.insert(data.end(), r.begin(), r.end());
  Walk w(data);
  w.cursor += 1;
  w.left -= 1;
  Out o;
  EXPECT_EQ(w.next(o), 1);
  EXPECT_STREQ(o.host, "laptop");
  EXPECT_EQ(w.left, 0u);
}

}  // namespace
