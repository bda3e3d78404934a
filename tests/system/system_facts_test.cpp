// Flash size and port links in the simulated router: its cat serves /proc/mtd and
// /proc/rtl865x/port_status from fixture files in $BRIM_FIXTURES, the rest is the real shell.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::exists;
using brim_test::write_file;

class SystemFacts : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    brim_test::SandboxTest::SetUp();
    if (IsSkipped()) return;
    mkdir("/tmp/fixtures", 0755);
    unlink("/tmp/fixtures/proc_mtd");
    unlink("/tmp/fixtures/port_status");
    setenv("BRIM_FIXTURES", "/tmp/fixtures", 1);
  }
  void TearDown() override { unsetenv("BRIM_FIXTURES"); }
  static void mtd(const std::string &text) { ASSERT_TRUE(write_file("/tmp/fixtures/proc_mtd", text)); }
  static void ports(const std::string &text) { ASSERT_TRUE(write_file("/tmp/fixtures/port_status", text)); }
  static std::string links() {
    const char *t = getPortLinkStaus();
    return t ? t : "(null)";
  }
};

TEST_F(SystemFacts, FlashSizeFromTheListing) {
  const std::string head = "dev:    size   erasesize  name\n";
  const std::pair<std::string, unsigned> rows[] = {
      {head + "mtd0: 00200000 00010000 \"boot+cfg+linux\"\nmtd1: 00600000 00010000 \"rootfs\"\n", 8},
      {head + "mtd0: 00180000 00010000 \"boot\"\nmtd1: 00000000 00010000 \"rootfs\"\n", 1},
      // Past the reader's buffer: the listing is cut, not overrun.
      {head + "mtd0: 00800000 00010000 \"all\"\n" + std::string(5000, '#') +
           "\nmtd1: 00800000 00010000 \"beyond the buffer\"\n",
       8},
  };
  for (const auto &[listing, mib] : rows) {
    mtd(listing);
    EXPECT_EQ(getFlashSize(), mib) << listing.substr(0, 80);
    EXPECT_FALSE(exists("/tmp/FlashSize"));
  }
  // No fixture: cat fails like it would on a kernel without the listing.
  unlink("/tmp/fixtures/proc_mtd");
  testing::internal::CaptureStdout();
  EXPECT_EQ(getFlashSize(), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Debug] get data from /tmp/FlashSize error!\n");
  EXPECT_FALSE(exists("/tmp/FlashSize"));
}

TEST_F(SystemFacts, PortLinks) {
  std::string many, many_want;  // more ports than the text has room for: the first 32
  for (int i = 0; i < 40; ++i) many += (i % 3 == 0) ? "  Link Up\n" : "  Link Down\n";
  for (int i = 0; i < 32; ++i) many_want += (i % 3 == 0) ? "1," : "0,";
  const std::pair<std::string, std::string> rows[] = {
      {"Port Status Summary Link\nPort0 Properties:\n    Link Up, 100M Full Duplex\nPort1 Properties:\n"
       "    Link Down\nPort2 Properties:\n    Up since boot, Link Down\nPort3 Properties:\n    Link Down\n"
       "Port4 Properties:\n    Link Up, 1000M\n",
       "1,0,0,0,1,"},
      {"Port0 Properties:\n    nothing to see\n", ""},
      {many, many_want},
  };
  for (const auto &[listing, want] : rows) {
    ports(listing);
    EXPECT_EQ(links(), want) << listing;
    EXPECT_TRUE(exists("/tmp/port_status"));
  }
  // No fixture at all: grep finds nothing either.
  unlink("/tmp/fixtures/port_status");
  EXPECT_EQ(links(), "");
}

TEST_F(SystemFacts, UnopenablePortListingGivesNull) {
  ports("  Link Up\n");
  unlink("/tmp/port_status");
  ASSERT_EQ(symlink("/nonexistent/dir/port_status", "/tmp/port_status"), 0);
  EXPECT_EQ(getPortLinkStaus(), nullptr);
  unlink("/tmp/port_status");
}

TEST_F(SystemFacts, CatIsTheRealOneForEverythingElse) {
  ASSERT_TRUE(write_file("/tmp/plain", "plain text\n"));
  auto r = brim_test::run_shell("cat /tmp/plain; cat -n /tmp/plain");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "plain text\n     1\tplain text\n");
}

}  // namespace
