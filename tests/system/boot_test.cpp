// The whole boot as the router runs it: brim_init in the simulated router, with the real shell,
// coreutils, killall and broker, and logging stand-ins for the firmware's programs.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;
const char *const kCanary = "/tmp/brim_canary";
const char *const kDefaultHosts = "192.168.0.1\tbrimrouter\tbrimsetup\n";

// The store line of a text item, with the store file's escapes.
std::string store_text(const std::string &key, const std::string &value) {
  std::string out = key + " = \"";
  for (char c : value) out += c == '"' || c == '\\' ? std::string("\\") + c : c == '\n' ? "\\n" : std::string(1, c);
  return out + "\"\n";
}

Lines fed(const std::string &pw) {  // what passwd was fed: the password twice
  std::string line = "passwd<stdin> " + journal_quote(pw);
  return {"passwd", line, line};
}

// Waits until exactly one process named `name` runs and it is none of `old`.
bool one_new_process(const char *name, const std::vector<pid_t> &old) {
  return wait_until([&] {
    std::vector<pid_t> now = find_processes(name);
    return now.size() == 1 && std::find(old.begin(), old.end(), now[0]) == old.end();
  });
}

class Boot : public SandboxTest {
 protected:
  void prepare() override {
    setenv("BRIM_SH_JOURNAL", "1", 1);
    unsetenv("BRIM_VZ_SUB_FAIL");
    run_shell(std::string("rm -rf /mnt/plugin_version /var/plugin_version /tmp/wanlink ") + kCanary);
  }
  // Boots from the factory store with `overrides` appended (later lines win).
  static CmdResult boot(const std::string &overrides = "") {
    use_store(factory_store() + "\n" + overrides);
    clear_journal();
    return run_program({"brim_init"});
  }
};

TEST_F(Boot, FactoryBootRunsTheSequenceInOrderAndAgainRestartsItsServices) {
  CmdResult r = boot();
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(sh_commands(), (Lines{"mkdir /var/js 1>/dev/null 2>&1", "rm -rf /var/js/language* 1>/dev/null 2>&1",
                                  "cp /web_brim/js/language_en.js /var/js/language.js",
                                  "ln -s /var/js/language.js /web_brim/js/language.js 1>/dev/null 2>&1",
                                  "echo '0' > /tmp/update_flag", "rm -rf /tmp/wanlink 2> /dev/null", "echo >/etc/hosts",
                                  "echo '192.168.0.1\tbrimrouter'>/etc/hosts", "killall vz_broker 2> /dev/null",
                                  "vz_broker -c /etc/mosquitto.conf & 2> /dev/null", "killall brim_sub 2> /dev/null",
                                  "killall vz_daemon 2> /dev/null", "vz_daemon &", "echo \"hq4729\" > /var/tmppwd",
                                  "echo \"hq4729\" >> /var/tmppwd", "passwd < /var/tmppwd", "rm -f /var/tmppwd",
                                  "killall telnetd 2> /dev/null"}));
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_en.js"));
  struct stat st;
  ASSERT_EQ(lstat("/web_brim/js/language.js", &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(read_file("/etc/hosts"), "192.168.0.1\tbrimrouter\n");
  EXPECT_EQ(read_file("/tmp/update_flag"), "0\n");
  EXPECT_FALSE(exists("/var/tmppwd"));
  EXPECT_EQ(journal_lines_of("passwd"), fed("hq4729"));
  EXPECT_TRUE(wait_for_process("telnetd", false));
  std::vector<pid_t> old[3];
  const char *services[] = {"vz_broker", "brim_sub", "vz_daemon"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(wait_for_process(services[i], true)) << services[i];
    old[i] = find_processes(services[i]);
  }
  // Once connected, the subscriber holds nothing that a daemon its handlers start would inherit.
  const std::string sub = "/proc/" + std::to_string(old[1].empty() ? 0 : old[1][0]);
  EXPECT_TRUE(wait_until([&] {
    return run_shell("ls -l " + sub + "/fd | grep -q socket || echo no-socket; cd " + sub + "/fdinfo && for f in *; do case $f in [012]) ;; "
                     "*) grep -Eq '^flags:[[:space:]]*[0-7]*[2367][0-7]{6}$' $f || echo $f ;; esac; done").output == "";
  })) << "a descriptor of the subscriber is inherited by its commands";
  EXPECT_EQ(boot().status, 0);  // again: one of each, each a new one
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(one_new_process(services[i], old[i])) << services[i] << " was not restarted";
}

// The telnet stand-in keeps its pid but is named "sh" for a moment while it starts: the same
// telnetd must be found again, however long the renaming takes.
TEST_F(Boot, StoreUnavailableDoesNothing) {
  run_shell("killall telnetd");
  ASSERT_TRUE(wait_for_process("telnetd", false));
  ASSERT_EQ(run_shell("telnetd &").status, 0);
  std::vector<pid_t> telnetd;
  ASSERT_TRUE(wait_until([&] { return (telnetd = find_processes("telnetd")).size() == 1; }));
  ASSERT_TRUE(write_file("/etc/hosts", "127.0.0.1\tkept\n"));
  run_shell("rm -rf /tmp/update_flag /var/js");
  clear_journal();
  setenv("APMIB_STORE", "/etc/no-such-store", 1);
  CmdResult r = run_program({"brim_init"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(sh_commands(), Lines{});
  EXPECT_EQ(read_file("/etc/hosts"), "127.0.0.1\tkept\n");
  EXPECT_FALSE(exists("/tmp/update_flag"));
  EXPECT_FALSE(exists("/var/js"));
  EXPECT_TRUE(wait_until([&] { return find_processes("telnetd") == telnetd; }, 20000)) << "a service was killed";
  run_shell("killall telnetd");
}

TEST_F(Boot, WanLinkMarkerLanguageAndPluginVersion) {
  for (const char *v : {"1", "-1", "2"}) {
    const bool one = std::string(v) == "1";
    run_shell(one ? "rm -f /tmp/wanlink" : "echo > /tmp/wanlink");  // the boot must make or remove it
    boot(std::string("WAN_LINK_MARK = ") + v + "\nWEB_LANGUAGE = \"vn,en\"\n");
    EXPECT_EQ(read_file("/tmp/wanlink"), one ? "\n" : "") << v;
    EXPECT_EQ(exists("/tmp/wanlink"), one) << v;
  }
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_en.js")) << "en is searched before vn";
  BRIM_SH("mkdir -p /mnt/plugin_version && touch /var/js/language_old.js");
  boot();
  EXPECT_EQ(run_shell("ls /var/js").output, "language.js\n");
  EXPECT_FALSE(exists("/var/plugin_version")) << "a directory is not copied";
  run_shell("rm -rf /mnt/plugin_version && echo 1.2.3 > /mnt/plugin_version");
  boot("WEB_LANGUAGE = \"xx\"\n");
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_cn.js"));
  EXPECT_EQ(read_file("/var/plugin_version"), "1.2.3\n");
}

// A failed subscription stops nothing else; a running telnet service is started anew.
TEST_F(Boot, TelnetFollowsItsItemAndAFailedSubscriptionStopsNothing) {
  run_shell("killall brim_sub");
  setenv("BRIM_VZ_SUB_FAIL", "1", 1);
  EXPECT_EQ(boot("TELNET_ENABLED = 1\n").status, 0);
  unsetenv("BRIM_VZ_SUB_FAIL");
  EXPECT_TRUE(find_processes("brim_sub").empty());
  EXPECT_TRUE(wait_for_process("vz_daemon", true));
  ASSERT_TRUE(wait_for_process("telnetd", true));
  std::vector<pid_t> first = find_processes("telnetd");
  boot("TELNET_ENABLED = 1\n");
  EXPECT_TRUE(one_new_process("telnetd", first));
  boot("TELNET_ENABLED = 2\n");
  EXPECT_TRUE(wait_for_process("telnetd", false));
}

// Stored passwords and host names arrive as data (their quoting is in boot_text_test); a password
// with a line break leaves the password alone, a hostile host name gives the default names.
TEST_F(Boot, HostilePasswordsAndHostNames) {
  // The second, the item's longest (127), is past the firmware's 105 characters once quoted.
  for (const std::string &pw : {std::string("s3cret"), std::string(40, '$') + std::string(40, '\\') + "'\"`$(touch /tmp/brim_canary)" + std::string(19, 'p'),
                                std::string("first\ntouch /tmp/brim_canary")}) {
    CmdResult r = boot(store_text("SUPER_PASSWORD", pw) + store_text("HOST_NAME", "a'; touch /tmp/brim_canary; '"));
    EXPECT_EQ(r.status, 0);
    const bool refused = pw.find('\n') != std::string::npos;
    EXPECT_EQ(journal_lines_of("passwd"), refused ? Lines{} : fed(pw)) << pw;
    EXPECT_EQ(r.output.find("password") != std::string::npos, refused) << r.output;
    EXPECT_NE(r.output.find("host name"), std::string::npos) << r.output;
    EXPECT_EQ(read_file("/etc/hosts"), kDefaultHosts);
    EXPECT_FALSE(exists(kCanary)) << pw;
    EXPECT_FALSE(exists("/var/tmppwd"));
  }
  load_store("IP_ADDR = 10.1.2.3\n" + store_text("HOST_NAME", "my-router.lan"));  // setHosts alone, in this process
  setHosts();
  EXPECT_EQ(read_file("/etc/hosts"), "10.1.2.3\tmy-router.lan\n");
}

// Every item the boot reads failing gives the defaults; the boot still runs every step to the end.
TEST_F(Boot, FailedReadsFallBackToDefaultsAndStopNothing) {
  EXPECT_EQ(boot("!SUPER_PASSWORD\n!WEB_LANGUAGE\n!HOST_NAME\n!TELNET_ENABLED = 1\n!WAN_LINK_MARK = 1\n").status, 0);
  EXPECT_EQ(journal_lines_of("passwd"), fed("hq4729"));
  EXPECT_EQ(read_file("/var/js/language.js"), read_file("/web_brim/js/language_cn.js"));
  EXPECT_EQ(read_file("/etc/hosts"), kDefaultHosts);
  EXPECT_FALSE(exists("/tmp/wanlink"));
  EXPECT_TRUE(wait_for_process("telnetd", false));
  EXPECT_EQ(sh_commands().size(), 18u) << "every step still runs";
  for (const char *service : {"vz_broker", "brim_sub", "vz_daemon"}) EXPECT_TRUE(wait_for_process(service, true)) << service;
}

TEST(UpdateFlag, SetClearAndMissing) {
  BRIM_REQUIRE_SANDBOX();
  testing::internal::CaptureStdout();  // quiet: no trace of the command on a handler's output
  EXPECT_EQ(set_vz_update_flag(), 0);
  EXPECT_EQ(read_file("/tmp/update_flag"), "1\n");
  EXPECT_EQ(get_vz_update_flag(), 1);
  EXPECT_EQ(clear_vz_update_flag(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(read_file("/tmp/update_flag"), "0\n");
  EXPECT_EQ(get_vz_update_flag(), 0);
  EXPECT_EQ(set_vz_update_flag(), 0);
  unlink("/tmp/update_flag");
  EXPECT_EQ(get_vz_update_flag(), 0);
  ASSERT_TRUE(write_file("/tmp/update_flag", ""));  // between truncation and write
  EXPECT_EQ(get_vz_update_flag(), 0);
}

}  // namespace
