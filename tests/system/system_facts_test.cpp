// Flash size and port links in the simulated router: its cat serves /proc/mtd and
// /proc/rtl865x/port_status from fixture files in $BRIM_FIXTURES, the rest is the real shell.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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

const char kMtdHeader[] = "dev:    size   erasesize  name\n";

TEST_F(SystemFacts, FlashSizeFromTheListing) {
  mtd(std::string(kMtdHeader) +
      "mtd0: 00200000 00010000 \"boot+cfg+linux\"\n"
      "mtd1: 00600000 00010000 \"rootfs\"\n");
  EXPECT_EQ(getFlashSize(), 8u);
  EXPECT_FALSE(exists("/tmp/FlashSize"));
  mtd(std::string(kMtdHeader) +
      "mtd0: 00180000 00010000 \"boot\"\n"
      "mtd1: 00000000 00010000 \"rootfs\"\n");
  EXPECT_EQ(getFlashSize(), 1u);
}

TEST_F(SystemFacts, FlashSizeWithoutAListing) {
  // No fixture: cat fails like it would on a kernel without the listing.
  testing::internal::CaptureStdout();
  EXPECT_EQ(getFlashSize(), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Debug] get data from /tmp/FlashSize error!\n");
  EXPECT_FALSE(exists("/tmp/FlashSize"));
}

TEST_F(SystemFacts, OverlongFlashListingIsCut) {
  mtd(std::string(kMtdHeader) + "mtd0: 00800000 00010000 \"all\"\n" + std::string(5000, '#') +
      "\nmtd1: 00800000 00010000 \"beyond the buffer\"\n");
  EXPECT_EQ(getFlashSize(), 8u);
}

TEST_F(SystemFacts, PortLinks) {
  ports(
      "Port Status Summary Link\n"
      "Port0 Properties:\n"
      "    Link Up, 100M Full Duplex\n"
      "Port1 Properties:\n"
      "    Link Down\n"
      "Port2 Properties:\n"
      "    Up since boot, Link Down\n"
      "Port3 Properties:\n"
      "    Link Down\n"
      "Port4 Properties:\n"
      "    Link Up, 1000M\n");
  EXPECT_EQ(links(), "1,0,0,0,1,");
  EXPECT_TRUE(exists("/tmp/port_status"));
}

TEST_F(SystemFacts, PortLinksWithoutQualifyingLines) {
  ports("Port0 Properties:\n    nothing to see\n");
  EXPECT_EQ(links(), "");
  // No fixture at all: grep finds nothing either.
  unlink("/tmp/fixtures/port_status");
  EXPECT_EQ(links(), "");
}

TEST_F(SystemFacts, ManyPortsDoNotOverflow) {
  std::string listing;
  for (int i = 0; i < 40; ++i) listing += (i % 3 == 0) ? "  Link Up\n" : "  Link Down\n";
  ports(listing);
  std::string want;
  for (int i = 0; i < 32; ++i) want += (i % 3 == 0) ? "1," : "0,";
  EXPECT_EQ(links(), want);
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
