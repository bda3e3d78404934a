#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "brimlib.h"
#include "brimlib/net/system_facts.h"

namespace {

std::string uptime(uint32_t s) {
  char buf[32];
  brim::format_uptime(s, buf, sizeof buf);
  return buf;
}

TEST(SystemFactsText, Uptime) {
  EXPECT_EQ(uptime(90061), "1;1;1;1");
  EXPECT_EQ(uptime(59), "0;0;0;59");
  EXPECT_EQ(uptime(0), "0;0;0;0");
  EXPECT_EQ(uptime(86399), "0;23;59;59");
  EXPECT_EQ(uptime(UINT32_MAX), "49710;6;28;15");
}

const char *kHeader = "dev:    size   erasesize  name\n";

TEST(SystemFactsText, FlashSize) {
  std::string two = std::string(kHeader) +
                    "mtd0: 00200000 00010000 \"boot+cfg+linux\"\n"
                    "mtd1: 00600000 00010000 \"rootfs\"\n";
  EXPECT_EQ(brim::flash_size_mib(two), 8u);
  std::string small = std::string(kHeader) +
                      "mtd0: 00180000 00010000 \"a\"\n"
                      "mtd1: 00000000 00010000 \"b\"\n"
                      "mtd2: 0000ffff 00010000 \"c\"\n";
  EXPECT_EQ(brim::flash_size_mib(small), 1u);  // below 64 KiB counts 0; the sum rounds down
  std::string three = std::string(kHeader) +
                      "mtd0: 00400000 00010000 \"a\"\n"
                      "mtd1: 00a00000 00010000 \"b\"\n"
                      "mtd2: 00200000 00010000 \"c\"\n"
                      "mtd3: 01000000 00010000 \"not counted\"\n";
  EXPECT_EQ(brim::flash_size_mib(three), 16u);
  EXPECT_EQ(brim::flash_size_mib("mtd0: zzzz0000\nmtd1: 00800000\n"), 8u);
  EXPECT_EQ(brim::flash_size_mib(""), 0u);
  EXPECT_EQ(brim::flash_size_mib("mtd0:"), 0u);  // name at the very end
  EXPECT_EQ(brim::flash_size_mib("mtd0: 01"), 0u);
}

TEST(SystemFactsText, PortLines) {
  using brim::PortLine;
  EXPECT_EQ(brim::classify_port_line("Port0 Link"), PortLine::Skip);
  EXPECT_EQ(brim::classify_port_line("  Link Up, 100M\n"), PortLine::Up);
  EXPECT_EQ(brim::classify_port_line("  Link Down\n"), PortLine::Down);
  EXPECT_EQ(brim::classify_port_line("Up but Link Down\n"), PortLine::Down);  // "Up" before "Link"
  EXPECT_EQ(brim::classify_port_line("nothing here\n"), PortLine::Stop);
  EXPECT_EQ(brim::classify_port_line(""), PortLine::Stop);
}

}  // namespace

namespace {

long seconds_from_text(const std::string &t) {
  int d = -1, h = -1, m = -1, s = -1;
  if (std::sscanf(t.c_str(), "%d;%d;%d;%d", &d, &h, &m, &s) != 4) return -1;
  return ((d * 24L + h) * 60 + m) * 60 + s;
}

long kernel_uptime() {
  FILE *f = std::fopen("/proc/uptime", "r");
  double up = -1;
  if (f) {
    if (std::fscanf(f, "%lf", &up) != 1) up = -1;
    std::fclose(f);
  }
  return static_cast<long>(up);
}

TEST(SystemFactsText, UptimeAgreesWithTheKernel) {
  long before = kernel_uptime();
  std::string text = getSysUptime();
  long after = kernel_uptime();
  ASSERT_GE(before, 0);
  long got = seconds_from_text(text);
  EXPECT_GE(got, before) << text;
  EXPECT_LE(got, after + 1) << text;  // /proc/uptime rounds down to the hundredth
  EXPECT_EQ(getSysUptime(), getSysUptime());  // one buffer of its own
}

}  // namespace
