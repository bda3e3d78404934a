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
  // The listing's parsing is in system_facts_parse_test; here the files and the shell around it.
  ASSERT_TRUE(write_file("/tmp/fixtures/port_status", "Port Status Summary Link\nPort0 Properties:\n    Link Up, 100M\n"
                                                       "Port1 Properties:\n    Up since boot, Link Down\n"));
  EXPECT_STREQ(getPortLinkStaus(), "1,0,");
  EXPECT_TRUE(exists("/tmp/port_status"));
  std::string many;  // a switch of more ports than the text holds: the first 32
  for (int i = 0; i < 40; ++i) many += "    Link " + std::string(i < 31 ? "Down" : "Up") + "\n";
  ASSERT_TRUE(write_file("/tmp/fixtures/port_status", many));
  std::string want;
  for (int i = 0; i < 32; ++i) want += i < 31 ? "0," : "1,";
  EXPECT_EQ(getPortLinkStaus(), want);
  unlink("/tmp/fixtures/port_status");  // no fixture at all: grep finds nothing either
  EXPECT_STREQ(getPortLinkStaus(), "");
  unlink("/tmp/port_status");  // an unopenable listing gives null
  ASSERT_EQ(symlink("/nonexistent/dir/port_status", "/tmp/port_status"), 0);
  EXPECT_EQ(getPortLinkStaus(), nullptr);
  unlink("/tmp/port_status");
}

}  // namespace
