// Every place where text that is not a constant reaches a shell command, fed one hostile corpus:
// the canary command in it must never run, and a legitimate value must still arrive intact where
// it was meant to go. The boot's password and host name go through the same corpus in
// boot_test.cpp (HostilePasswordsArriveAsData, HostileHostNamesGiveTheDefaultNames).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::exists;
using brim_test::journal_line;
using brim_test::journal_lines;
using brim_test::journal_lines_of;
using brim_test::sh_commands;

const std::string kCanary = "/tmp/brim_injection_canary";
const std::string kTouch = "touch " + kCanary;

// Quotes of both kinds, command substitution, backticks, ; | & && || > and line breaks, leading
// dashes, and texts of 4 KiB; each also glued to the end of the legitimate value `legit`.
std::vector<std::string> hostile_corpus(const std::string &legit) {
  std::string subst_4k;
  while (subst_4k.size() < 4096) subst_4k += "$(" + kTouch + ")";
  std::vector<std::string> tails = {
      "'",
      "\"",
      "\\",
      "$(" + kTouch + ")",
      "`" + kTouch + "`",
      ";" + kTouch,
      " ; " + kTouch,
      "|" + kTouch,
      "&" + kTouch,
      "&&" + kTouch,
      "||" + kTouch,
      ">" + kCanary,
      " > " + kCanary,
      "\n" + kTouch,
      "\r\n" + kTouch,
      "'; " + kTouch + "; '",
      "\"; " + kTouch + "; \"",
      "$(" + kTouch + ")'`" + kTouch + "`'\"",
      " " + kTouch,
      "\t" + kTouch,
  };
  std::vector<std::string> out = {"-rf", "--help", "-", std::string(4096, 'a'), subst_4k,
                                  std::string(4096, ';'), legit + std::string(4096 - legit.size(), 'x')};
  for (const std::string &t : tails) {
    out.push_back(t);
    out.push_back(legit + t);
  }
  return out;
}

class Injection : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    setenv("BRIM_SH_JOURNAL", "1", 1);
    std::remove(kCanary.c_str());
  }
  void TearDown() override {
    unsetenv("BRIM_SH_JOURNAL");
    std::remove(kCanary.c_str());
    SandboxTest::TearDown();
  }
};

// getWirelessChannel puts the interface name on an iwpriv command line.
TEST_F(Injection, WirelessChannelInterfaceName) {
  for (const std::string &h : hostile_corpus("wlan0")) {
    brim_test::clear_journal();
    getWirelessChannel(h.c_str());
    EXPECT_TRUE(journal_lines().empty()) << "ran something for " << h;
  }
  EXPECT_FALSE(exists(kCanary));

  brim_test::clear_journal();
  getWirelessChannel("wlan1-va0");
  EXPECT_EQ(journal_lines_of("iwpriv"), (std::vector<std::string>{journal_line({"iwpriv", "wlan1-va0", "get_mib", "channel"})}));
}

// takeEffectWlan puts the interface name, and names made from it, on flash/ifconfig/sysconf lines.
TEST_F(Injection, TakeEffectWlanInterfaceName) {
  brim_test::use_store(brim_test::factory_store());
  ASSERT_NE(apmib_init(), 0);
  for (const std::string &h : hostile_corpus("wlan1-va0")) {
    brim_test::clear_journal();
    takeEffectWlan(h.c_str(), 0);
    EXPECT_TRUE(journal_lines().empty()) << "ran something for " << h;
  }
  EXPECT_FALSE(exists(kCanary));

  brim_test::clear_journal();
  takeEffectWlan("wlan1-va0", 0);
  std::vector<std::string> flash = journal_lines_of("flash");
  ASSERT_EQ(flash.size(), 2u);
  EXPECT_EQ(flash[0], journal_line({"flash", "set_mib", "wlan1"}));
  EXPECT_EQ(flash[1], journal_line({"flash", "set_mib", "wlan1-va0"}));
}

// run_init_script puts its argument after "init.sh gw".
TEST_F(Injection, InitScriptArgument) {
  for (const std::string &h : hostile_corpus("bridge")) {
    // A legitimate argument may hold blanks (several words for init.sh), so only texts with
    // shell characters in them are refused.
    if (h.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \t_-.,:=/") ==
            std::string::npos &&
        h.size() < 245)
      continue;
    brim_test::clear_journal();
    EXPECT_EQ(run_init_script(h.c_str()), -1) << h;
    EXPECT_TRUE(journal_lines().empty()) << "ran something for " << h;
  }
  EXPECT_FALSE(exists(kCanary));

  brim_test::clear_journal();
  pid_t child = run_init_script("bridge");
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(journal_lines_of("init.sh"), (std::vector<std::string>{journal_line({"init.sh", "gw", "bridge"})}));
  EXPECT_FALSE(exists(kCanary));
}

// Cal_file_md5 puts the path on an md5sum command line. Every corpus text that can be a path of
// at most 214 characters becomes a real file, whose digest must come back; longer ones run nothing.
TEST_F(Injection, FileDigestPath) {
  namespace fs = std::filesystem;
  const fs::path base = "/tmp/brim_injection_files";
  fs::remove_all(base);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_TRUE(fs::create_directories(base));
  ASSERT_EQ(chdir(base.c_str()), 0);  // where relative redirections would land

  int checked = 0;
  for (const std::string &h : hostile_corpus("firmware.bin")) {
    fs::path p = base / h;
    std::string path = p.lexically_normal().string();
    char out[34];
    std::memset(out, '#', sizeof out);
    brim_test::clear_journal();
    if (path.size() > 214) {
      Cal_file_md5(path.c_str(), out);
      EXPECT_STREQ(out, "") << h;
      EXPECT_TRUE(sh_commands().empty()) << h;
      continue;
    }
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::string content = "content of " + h;
    ASSERT_TRUE(brim_test::write_file(path, content)) << path;
    EXPECT_EQ(Cal_file_md5(path.c_str(), out), 0);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, content.data(), static_cast<uint32_t>(content.size()));
    unsigned char d[16];
    MD5Final(d, &ctx);
    char want[33];
    for (int i = 0; i < 16; ++i) std::snprintf(want + 2 * i, 3, "%02x", d[i]);
    EXPECT_STREQ(out, want) << "digest of " << path;
    ++checked;
  }
  EXPECT_GT(checked, 30);
  EXPECT_FALSE(exists(kCanary));
  EXPECT_EQ(chdir(cwd), 0);
  fs::remove_all(base);
}

}  // namespace
