// The whole boot as the router runs it: brim_init in the simulated router, with the real shell,
// coreutils, killall and broker, and logging stand-ins for the firmware's programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

const char *const kCanary = "/tmp/brim_canary";

class Boot : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    setenv("BRIM_SH_JOURNAL", "1", 1);
    unsetenv("BRIM_VZ_SUB_FAIL");
    run_shell(std::string("rm -rf /mnt/plugin_version /var/plugin_version /tmp/wanlink ") + kCanary);
  }

  // Boots from the factory store with `overrides` appended (later lines win).
  CmdResult boot(const std::string &overrides = "") {
    use_store(factory_store() + "\n" + overrides);
    clear_journal();
    return run_program({"brim_init"});
  }

  std::vector<std::string> passwd_input() {
    std::vector<std::string> lines;
    for (const std::string &l : journal_lines_of("passwd")) {
      std::vector<std::string> argv;
      if (parse_journal_line(l, &argv) && argv.size() == 2 && argv[0] == "passwd<stdin>") lines.push_back(argv[1]);
    }
    return lines;
  }
};

// Waits (bounded) until exactly one process named `name` runs and it is none of `old`.
bool one_new_process(const char *name, const std::vector<pid_t> &old) {
  for (int i = 0; i < 250; ++i) {
    std::vector<pid_t> now = find_processes(name);
    if (now.size() == 1 && std::find(old.begin(), old.end(), now[0]) == old.end()) return true;
    usleep(20 * 1000);
  }
  return false;
}

// The store text of a text item, with the store file's escapes.
std::string store_text(const std::string &key, const std::string &value) {
  std::string out = key + " = \"";
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\', out += c;
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out + "\"\n";
}

TEST_F(Boot, FactoryBootRunsTheSequenceInOrder) {
  CmdResult r = boot();
  EXPECT_EQ(r.status, 0) << r.output;
  const std::vector<std::string> expected = {
      "mkdir /var/js 1>/dev/null 2>&1",
      "rm -rf /var/js/language* 1>/dev/null 2>&1",
      "cp /web_brim/js/language_en.js /var/js/language.js",
      "ln -s /var/js/language.js /web_brim/js/language.js 1>/dev/null 2>&1",
      "echo '0' > /tmp/update_flag",
      "rm -rf /tmp/wanlink 2> /dev/null",
      "echo >/etc/hosts",
      "echo '192.168.0.1\tbrimrouter'>/etc/hosts",
      "killall vz_broker 2> /dev/null",
      "vz_broker -c /etc/mosquitto.conf & 2> /dev/null",
      "killall brim_sub 2> /dev/null",
      "killall vz_daemon 2> /dev/null",
      "vz_daemon &",
      "echo \"hq4729\" > /var/tmppwd",
      "echo \"hq4729\" >> /var/tmppwd",
      "passwd < /var/tmppwd",
      "rm -f /var/tmppwd",
      "killall telnetd 2> /dev/null",
  };
  EXPECT_EQ(sh_commands(), expected);

  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_en.js"));
  struct stat st;
  ASSERT_EQ(lstat("/web_brim/js/language.js", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read_file("/etc/hosts"), "192.168.0.1\tbrimrouter\n");
  EXPECT_EQ(read_file("/tmp/update_flag"), "0\n");
  EXPECT_FALSE(exists("/var/tmppwd"));
  EXPECT_EQ(passwd_input(), (std::vector<std::string>{"hq4729", "hq4729"}));

  EXPECT_TRUE(wait_for_process("vz_broker", true));
  EXPECT_TRUE(wait_for_process("brim_sub", true));
  EXPECT_TRUE(wait_for_process("vz_daemon", true));
  EXPECT_TRUE(wait_for_process("telnetd", false));

  // A second run gives the same end state: one broker, one subscriber, one daemon.
  std::vector<pid_t> broker = find_processes("vz_broker");
  std::vector<pid_t> sub = find_processes("brim_sub");
  std::vector<pid_t> daemon = find_processes("vz_daemon");
  r = boot();
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(one_new_process("vz_broker", broker)) << "the broker was not restarted";
  EXPECT_TRUE(one_new_process("brim_sub", sub));
  EXPECT_TRUE(one_new_process("vz_daemon", daemon));
}

TEST_F(Boot, StoreUnavailableDoesNothing) {
  run_shell("killall telnetd");
  ASSERT_TRUE(wait_for_process("telnetd", false));
  ASSERT_EQ(run_shell("telnetd &").status, 0);
  ASSERT_TRUE(wait_for_process("telnetd", true));
  ASSERT_TRUE(write_file("/etc/hosts", "127.0.0.1\tkept\n"));
  run_shell("rm -rf /tmp/update_flag /var/js");
  clear_journal();
  setenv("APMIB_STORE", "/etc/no-such-store", 1);
  CmdResult r = run_program({"brim_init"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(sh_commands().empty());
  EXPECT_EQ(read_file("/etc/hosts"), "127.0.0.1\tkept\n");
  EXPECT_FALSE(exists("/tmp/update_flag"));
  EXPECT_FALSE(exists("/var/js"));
  EXPECT_EQ(find_processes("telnetd").size(), 1u) << "a service was killed";
  run_shell("killall telnetd");
}

TEST_F(Boot, WanLinkMarkerOnlyForOne) {
  for (const char *v : {"1", "-1", "2"}) {
    const bool one = std::string(v) == "1";
    run_shell(one ? "rm -f /tmp/wanlink" : "echo > /tmp/wanlink");  // the boot must make or remove it
    boot(std::string("WAN_LINK_MARK = ") + v + "\n");
    EXPECT_EQ(exists("/tmp/wanlink"), one) << v;
    if (one) EXPECT_EQ(read_file("/tmp/wanlink"), "\n");
  }
}

// A failed subscription stops nothing else; a running telnet service is started anew.
TEST_F(Boot, TelnetFollowsItsItemAndAFailedSubscriptionStopsNothing) {
  run_shell("killall brim_sub");
  setenv("BRIM_VZ_SUB_FAIL", "1", 1);
  CmdResult r = boot("TELNET_ENABLED = 1\n" + store_text("SUPER_PASSWORD", "s3cret"));
  unsetenv("BRIM_VZ_SUB_FAIL");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(find_processes("brim_sub").empty());
  EXPECT_TRUE(wait_for_process("vz_daemon", true));
  EXPECT_EQ(passwd_input(), (std::vector<std::string>{"s3cret", "s3cret"}));
  ASSERT_TRUE(wait_for_process("telnetd", true));
  std::vector<pid_t> first = find_processes("telnetd");
  boot("TELNET_ENABLED = 1\n");
  EXPECT_TRUE(one_new_process("telnetd", first));
  boot("TELNET_ENABLED = 2\n");
  EXPECT_TRUE(wait_for_process("telnetd", false));
}

TEST_F(Boot, LanguageAndPluginVersion) {
  ASSERT_EQ(run_shell("mkdir -p /mnt/plugin_version && touch /var/js/language_old.js").status, 0);
  boot("WEB_LANGUAGE = \"vn,en\"\n");
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_en.js"))
      << "en is searched before vn";
  EXPECT_EQ(run_shell("ls /var/js").output, "language.js\n");
  EXPECT_FALSE(exists("/var/plugin_version")) << "a directory is not copied";

  run_shell("rm -rf /mnt/plugin_version && echo 1.2.3 > /mnt/plugin_version");
  boot("WEB_LANGUAGE = \"xx\"\n");
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_cn.js"));
  EXPECT_EQ(read_file("/var/plugin_version"), "1.2.3\n");
}

TEST_F(Boot, HostilePasswordsArriveAsData) {
  const std::vector<std::string> passwords = {
      "$(touch /tmp/brim_canary)`touch /tmp/brim_canary`\"; touch /tmp/brim_canary; \"",
      "'; touch /tmp/brim_canary; ' | x & y > z \\n\\c",
      "-n",
      std::string(60, '$') + std::string(60, '\\') + "'\"`",  // past the firmware's 105 characters
  };
  for (const std::string &pw : passwords) {
    CmdResult r = boot(store_text("SUPER_PASSWORD", pw));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(passwd_input(), (std::vector<std::string>{pw, pw})) << pw;
    EXPECT_FALSE(exists(kCanary)) << pw;
    EXPECT_FALSE(exists("/var/tmppwd"));
  }
}

TEST_F(Boot, PasswordWithALineBreakLeavesThePasswordAlone) {
  CmdResult r = boot(store_text("SUPER_PASSWORD", "first\ntouch /tmp/brim_canary"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("password"), std::string::npos) << r.output;
  EXPECT_TRUE(journal_lines_of("passwd").empty());
  EXPECT_FALSE(exists("/var/tmppwd"));
  EXPECT_FALSE(exists(kCanary));
}

TEST_F(Boot, HostileHostNamesGiveTheDefaultNames) {  // setHosts alone, in this process
  const std::string defaults = "192.168.0.1\tbrimrouter\tbrimsetup\n";
  auto set_hosts = [](const std::string &store_line) {
    use_store(factory_store() + "\n" + store_line);
    EXPECT_NE(apmib_init(), 0);
    testing::internal::CaptureStderr();
    setHosts();
    return testing::internal::GetCapturedStderr();
  };
  for (const std::string &name :
       {std::string("a'; touch /tmp/brim_canary; '"), std::string("x\n10.0.0.66\tbank.example"),
        std::string("$(touch /tmp/brim_canary)"), std::string("`touch /tmp/brim_canary`"),
        std::string("a|b;c&d>e"), std::string("under_score")}) {
    std::string err = set_hosts(store_text("HOST_NAME", name));
    EXPECT_EQ(read_file("/etc/hosts"), defaults) << name;
    EXPECT_NE(err.find("host name"), std::string::npos) << err;
    EXPECT_FALSE(exists(kCanary)) << name;
  }
  EXPECT_EQ(set_hosts(store_text("HOST_NAME", "")), "");
  EXPECT_EQ(read_file("/etc/hosts"), defaults);
  set_hosts(store_text("HOST_NAME", std::string(31, 'h')));
  EXPECT_EQ(read_file("/etc/hosts"), "192.168.0.1\t" + std::string(31, 'h') + "\n");
  set_hosts("IP_ADDR = 10.1.2.3\n" + store_text("HOST_NAME", "my-router.lan"));
  EXPECT_EQ(read_file("/etc/hosts"), "10.1.2.3\tmy-router.lan\n");
}

TEST_F(Boot, FailedReadsFallBackToDefaults) {
  CmdResult r = boot("!SUPER_PASSWORD\n!WEB_LANGUAGE\n!HOST_NAME\n!TELNET_ENABLED = 1\n!WAN_LINK_MARK = 1\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(passwd_input(), (std::vector<std::string>{"hq4729", "hq4729"}));
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_cn.js"));
  EXPECT_EQ(read_file("/etc/hosts"), "192.168.0.1\tbrimrouter\tbrimsetup\n");
  EXPECT_FALSE(exists("/tmp/wanlink"));
  EXPECT_TRUE(wait_for_process("telnetd", false));
}

// Each item alone: the boot still runs every step to the end and leaves its services running.
TEST_F(Boot, EachItemTheBootReadsFailingAlone) {
  ASSERT_EQ(boot().status, 0);
  const std::vector<std::string> factory = sh_commands();
  for (const char *key : {"SUPER_PASSWORD", "WEB_LANGUAGE", "HOST_NAME", "IP_ADDR", "WAN_LINK_MARK", "TELNET_ENABLED"}) {
    SCOPED_TRACE(key);
    CmdResult r = boot(std::string("!") + key + "\n");
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<std::string> cmds = sh_commands();
    EXPECT_EQ(cmds.size(), factory.size());
    if (!cmds.empty()) EXPECT_EQ(cmds.back(), factory.back());
    std::string hosts = read_file("/etc/hosts");
    EXPECT_TRUE(!hosts.empty() && hosts.find('\n') == hosts.size() - 1) << hosts;
    for (const char *service : {"vz_broker", "brim_sub", "vz_daemon"}) EXPECT_TRUE(wait_for_process(service, true)) << service;
  }
}

TEST(UpdateFlag, SetClearAndMissing) {
  BRIM_REQUIRE_SANDBOX();
  EXPECT_EQ(set_vz_update_flag(), 0);
  EXPECT_EQ(read_file("/tmp/update_flag"), "1\n");
  EXPECT_EQ(get_vz_update_flag(), 1);
  EXPECT_EQ(clear_vz_update_flag(), 0);
  EXPECT_EQ(read_file("/tmp/update_flag"), "0\n");
  EXPECT_EQ(get_vz_update_flag(), 0);
  EXPECT_EQ(set_vz_update_flag(), 0);
  unlink("/tmp/update_flag");
  EXPECT_EQ(get_vz_update_flag(), 0);
  ASSERT_TRUE(write_file("/tmp/update_flag", ""));  // between truncation and write
  EXPECT_EQ(get_vz_update_flag(), 0);
}

}  // namespace
