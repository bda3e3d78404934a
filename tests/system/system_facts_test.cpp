// Flash size and port links in the simulated router: its cat serves /proc/mtd and
// /proc/rtl865x/port_status from fixture files in $BRIM_FIXTURES, the rest is the real shell.
#include <sys/stat.h>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

class SystemFacts : public SandboxTest {
 protected:
  void prepare() override {
    mkdir("/tmp/fixtures", 0755);
    unlink("/tmp/fixtures/proc_mtd");
    unlink("/tmp/fixtures/port_status");
    setenv("BRIM_FIXTURES", "/tmp/fixtures", 1);
  }
  void cleanup() override { unsetenv("BRIM_FIXTURES"); }
};

TEST_F(SystemFacts, FlashSizeFromTheListing) {
  const std::string head = "dev:    size   erasesize  name\n";
  for (const auto &[listing, mib] : {
           std::pair{head + "mtd0: 00200000 00010000 \"boot+cfg+linux\"\nmtd1: 00600000 00010000 \"rootfs\"\n", 8u},
           {head + "mtd0: 00180000 00010000 \"boot\"\nmtd1: 00000000 00010000 \"rootfs\"\n", 1u},
           // Past the reader's buffer: the listing is cut, not overrun.
           {head + "mtd0: 00800000 00010000 \"all\"\n" + std::string(5000, '#') + "\nmtd1: 00800000 00010000 \"more\"\n", 8u}}) {
    ASSERT_TRUE(write_file("/tmp/fixtures/proc_mtd", listing));
    EXPECT_EQ(getFlashSize(), mib) << listing.substr(0, 80);
    EXPECT_FALSE(exists("/tmp/FlashSize"));
  }
  unlink("/tmp/fixtures/proc_mtd");  // cat fails as on a kernel without the listing
  testing::internal::CaptureStdout();
  EXPECT_EQ(getFlashSize(), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Debug] get data from /tmp/FlashSize error!\n");
  EXPECT_FALSE(exists("/tmp/FlashSize"));
}

TEST_F(SystemFacts, PortLinks) {
  std::string many, many_want;  // more ports than the text has room for: the first 32
  for (int i = 0; i < 40; ++i) many += (i % 3 == 0) ? "  Link Up\n" : "  Link Down\n";
  for (int i = 0; i < 32; ++i) many_want += (i % 3 == 0) ? "1," : "0,";
  for (const auto &[listing, want] : {
           std::pair<std::string, std::string>{
               "Port Status Summary Link\nPort0 Properties:\n    Link Up, 100M Full Duplex\nPort1 Properties:\n    Link Down\n"
               "Port2 Properties:\n    Up since boot, Link Down\nPort3 Properties:\n    Link Down\nPort4 Properties:\n    Link Up, 1000M\n",
               "1,0,0,0,1,"},
           {"Port0 Properties:\n    nothing to see\n", ""},
           {many, many_want}}) {
    ASSERT_TRUE(write_file("/tmp/fixtures/port_status", listing));
    const char *t = getPortLinkStaus();
    EXPECT_EQ(t ? t : "(null)", want) << listing;
    EXPECT_TRUE(exists("/tmp/port_status"));
  }
  unlink("/tmp/fixtures/port_status");  // no fixture at all: grep finds nothing either
  EXPECT_STREQ(getPortLinkStaus(), "");
  unlink("/tmp/port_status");  // an unopenable listing gives null
  ASSERT_EQ(symlink("/nonexistent/dir/port_status", "/tmp/port_status"), 0);
  EXPECT_EQ(getPortLinkStaus(), nullptr);
  unlink("/tmp/port_status");
}

}  // namespace
