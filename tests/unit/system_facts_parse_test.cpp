// The system facts' text helpers, and the uptime against the kernel's.

#include "brimlib/net/system_facts.h"
#include "tests/unit/unit.h"

namespace {

std::string uptime(uint32_t s) { char buf[32]; brim::format_uptime(s, buf, sizeof buf); return buf; }

TEST(SystemFactsText, UptimeFlashSizeAndPortLines) {
  for (auto [s, text] : {std::pair{90061u, "1;1;1;1"}, {59u, "0;0;0;59"}, {0u, "0;0;0;0"}, {86399u, "0;23;59;59"},
                         {86400u, "1;0;0;0"}, {UINT32_MAX, "49710;6;28;15"}})
    EXPECT_EQ(uptime(s), text) << s;
  const std::string h = "dev:    size   erasesize  name\n";
  const std::pair<std::string, unsigned> cases[] = {
      {h + "mtd0: 00200000 00010000 \"boot+cfg+linux\"\nmtd1: 00600000 00010000 \"rootfs\"\n", 8},
      // Below 64 KiB counts 0; the sum rounds down.
      {h + "mtd0: 00180000 00010000 \"a\"\nmtd1: 00000000 00010000 \"b\"\nmtd2: 0000ffff 00010000 \"c\"\n", 1},
      {h + "mtd0: 00400000 0 \"a\"\nmtd1: 00a00000 0 \"b\"\nmtd2: 00200000 0 \"c\"\nmtd3: 01000000 0 \"not counted\"\n",
       16},
      {"mtd0: zzzz0000\nmtd1: 00800000\n", 8}, {"", 0}, {"mtd0:", 0} /* name at the very end */, {"mtd0: 01", 0},
      {"mtd0: 0x00800000\nmtd1: 0X400000\n", 4},  // four characters as %x reads them: "0x00" is 0, "0X40" 4 MiB
  };
  for (const auto &[text, mib] : cases) EXPECT_EQ(brim::flash_size_mib(text), mib) << text;
  using brim::PortLine;
  for (auto [line, kind] : {std::pair{"Port0 Link", PortLine::Skip}, {"  Link Up, 100M\n", PortLine::Up},
                            {"  Link Down\n", PortLine::Down}, {"Up but Link Down\n", PortLine::Down},  // "Up" first
                            {"nothing here\n", PortLine::Stop}, {"", PortLine::Stop}})
    EXPECT_EQ(brim::classify_port_line(line), kind) << line;
}

long kernel_uptime() {
  double up = -1;
  if (FILE *f = std::fopen("/proc/uptime", "r")) up = std::fscanf(f, "%lf", &up) == 1 ? up : -1, std::fclose(f);
  return static_cast<long>(up);
}

TEST(SystemFactsText, UptimeAgreesWithTheKernel) {
  long before = kernel_uptime();
  std::string text = getSysUptime();
  long after = kernel_uptime();
  ASSERT_GE(before, 0);
  int d = -1, h = -1, m = -1, s = -1;
  ASSERT_EQ(std::sscanf(text.c_str(), "%d;%d;%d;%d", &d, &h, &m, &s), 4) << text;
  long got = ((d * 24L + h) * 60 + m) * 60 + s;
  EXPECT_TRUE(got >= before && got <= after + 1) << text;  // /proc/uptime rounds down to the hundredth
  EXPECT_EQ(getSysUptime(), getSysUptime());  // one buffer of its own
}

}  // namespace
