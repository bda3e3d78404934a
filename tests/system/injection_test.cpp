// Every place where text that is not a constant reaches a shell command, fed one hostile corpus:
// the canary command in it must never run, and a legitimate value must still arrive intact. The
// boot's password and host name go through the same kind of corpus in boot_test.cpp.
#include <algorithm>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;
const std::string kCanary = "/tmp/brim_injection_canary", kTouch = "touch " + kCanary;

// Quotes, command substitution, backticks, ; | & && || > and line breaks, leading dashes and
// texts of 4 KiB; each also glued to the end of the legitimate value `legit`.
Lines hostile_corpus(const std::string &legit) {
  std::string subst_4k;
  while (subst_4k.size() < 4096) subst_4k += "$(" + kTouch + ")";
  Lines out = {"-rf", "--help", "-", std::string(4096, 'a'), subst_4k, std::string(4096, ';'),
               legit + std::string(4096 - legit.size(), 'x')};
  for (const std::string &t : Lines{"'", "\"", "\\", "$(" + kTouch + ")", "`" + kTouch + "`", ";" + kTouch, " ; " + kTouch,
                               "|" + kTouch, "&" + kTouch, "&&" + kTouch, "||" + kTouch, ">" + kCanary, " > " + kCanary,
                               "\n" + kTouch, "\r\n" + kTouch, "'; " + kTouch + "; '", "\"; " + kTouch + "; \"",
                               "$(" + kTouch + ")'`" + kTouch + "`'\"", " " + kTouch, "\t" + kTouch})
    out.push_back(t), out.push_back(legit + t);
  return out;
}

class Injection : public SandboxTest {
 protected:
  void prepare() override {
    setenv("BRIM_SH_JOURNAL", "1", 1);
    std::remove(kCanary.c_str());
  }
  void cleanup() override {
    wlan_idx = vwlan_idx = 0;
    EXPECT_FALSE(exists(kCanary)) << "a hostile text reached a shell";
    std::remove(kCanary.c_str());
  }
  // Runs call(h) for every text that `refused` accepts; nothing may run for any of them.
  template <class Call, class Refused>
  static void feed(const Lines &texts, Call call, Refused refused) {
    for (const std::string &h : texts) {
      if (!refused(h)) continue;
      clear_journal();
      call(h);
      EXPECT_TRUE(journal_lines().empty()) << "ran something for " << h;
    }
    clear_journal();
  }
};

TEST_F(Injection, InterfaceNamesOfTheChannelQueryAndTakeEffectWlan) {
  auto all = [](const std::string &) { return true; };
  Lines channel_names = hostile_corpus("wlan0");
  channel_names.push_back("wlan0-va0aaaaaaa");  // 16 characters: one more than a name holds
  feed(channel_names, [](const std::string &h) { getWirelessChannel(h.c_str()); }, all);
  getWirelessChannel("wlan1-va0");
  EXPECT_EQ(journal_lines_of("iwpriv"), Lines{"iwpriv wlan1-va0 get_mib channel"});
  load_store();
  // Refused names print nothing, with or without a restart, and leave the selection alone.
  Lines names = hostile_corpus("wlan1-va0");
  names.insert(names.end(), {"wlan0-va0aaaaaaa", "-a", ""});  // 16 characters; none at all
  wlan_idx = 1, vwlan_idx = 3;
  feed(names, [](const std::string &h) {
    testing::internal::CaptureStdout();
    takeEffectWlan(h.c_str(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << h;
    takeEffectWlan(h.c_str(), 0);
  }, all);
  takeEffectWlan(nullptr, 1);
  EXPECT_TRUE(journal_lines().empty());
  EXPECT_EQ(wlan_idx, 1) << "the selection changed for a refused name";
  EXPECT_EQ(vwlan_idx, 3);
  takeEffectWlan("wlan1-va0", 0);
  EXPECT_EQ(journal_lines_of("flash"), (Lines{"flash set_mib wlan1", "flash set_mib wlan1-va0"}));
}

// A legitimate argument may hold blanks (several words for init.sh): only texts with shell
// characters, or too long, are refused.
TEST_F(Injection, InitScriptArgument) {
  const std::string longest = "bridge " + std::string(237, 'a');  // 244 characters: the longest taken
  Lines texts = hostile_corpus("bridge");
  texts.push_back(longest + "a");
  feed(texts, [](const std::string &h) { EXPECT_EQ(run_init_script(h.c_str()), -1) << h; }, [](const std::string &h) {
    return h.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \t_-.,:=/") != std::string::npos ||
           h.size() >= 245;
  });
  // The DHCP server of the pid file is told first (SIGUSR1) and its pid file goes.
  pid_t dhcpd = fork();
  if (dhcpd == 0) pause(), _exit(0);
  BRIM_SH("mkdir -p /var/run && echo " + std::to_string(dhcpd) + " > /var/run/udhcpd.pid");
  clear_journal();
  pid_t child = run_init_script(longest.c_str());
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  EXPECT_EQ(journal_lines_of("init.sh"), Lines{"init.sh gw " + longest});
  // The daemons are stopped, the first to the last, before the shell scripts are.
  Lines cmds = sh_commands();
  auto at = [&](const char *c) { return std::find(cmds.begin(), cmds.end(), c) - cmds.begin(); };
  EXPECT_LT(at("killall -9 sleep 2> /dev/null"), at("killall -9 ppp_inet 2> /dev/null"));
  EXPECT_LT(at("killall -9 ppp_inet 2> /dev/null"), at("killsh.sh"));
  int status = 0;
  EXPECT_EQ(waitpid(dhcpd, &status, 0), dhcpd);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGUSR1) << status;
  EXPECT_FALSE(exists("/var/run/udhcpd.pid"));
}

// Every corpus text that can be a path of at most 214 characters becomes a real file, whose
// digest must come back; longer ones run nothing.
TEST_F(Injection, FileDigestPath) {
  namespace fs = std::filesystem;
  const fs::path base = "/tmp/brim_injection_files";
  fs::remove_all(base);
  const fs::path cwd = fs::current_path();
  ASSERT_TRUE(fs::create_directories(base));
  fs::current_path(base);  // where relative redirections would land
  int checked = 0;
  for (const std::string &h : hostile_corpus("firmware.bin")) {
    fs::path p = base / h;
    std::string path = p.lexically_normal().string(), content = "content of " + h;
    char out[34];
    std::memset(out, '#', sizeof out);
    clear_journal();
    if (path.size() > 214) {
      Cal_file_md5(path.c_str(), out);
      EXPECT_STREQ(out, "") << h;
      EXPECT_TRUE(sh_commands().empty()) << h;
      continue;
    }
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    ASSERT_TRUE(write_file(path, content)) << path;
    EXPECT_EQ(Cal_file_md5(path.c_str(), out), 0);
    EXPECT_EQ(out, md5_hex(content)) << "digest of " << path;
    ++checked;
  }
  EXPECT_GT(checked, 30);
  fs::current_path(cwd);
  fs::remove_all(base);
}

}  // namespace
