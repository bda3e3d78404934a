// The simulated router itself: what the boot and the library rely on finding there.
#include <unistd.h>

#include <cstdlib>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;
using Lines = std::vector<std::string>;
using Sandbox = SandboxTest;

TEST_F(Sandbox, MachineNetworkFilesAndFactoryStore) {
  char name[64] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  EXPECT_STREQ(name, "brim-router");
  EXPECT_NE(read_file("/proc/1/cmdline").find("brim-sandbox"), std::string::npos);  // no host process is visible
  EXPECT_EQ(std::string(std::getenv("PATH")).rfind("/opt/brim/bin:", 0), 0u);
  apmib_init();
  char lan[32] = {};
  ASSERT_NE(getLanIp(lan), nullptr);
  EXPECT_NE(run_shell("ip -4 -o addr show dev br0").output.find(std::string(" ") + lan + "/24 "), std::string::npos);
  auto eth1 = run_shell("ip -4 -o addr show dev eth1; ip -o link show dev eth1");
  EXPECT_EQ(eth1.output.find("inet "), std::string::npos) << eth1.output;
  EXPECT_NE(eth1.output.find("eth1@eth1-peer"), std::string::npos) << eth1.output;
  EXPECT_TRUE(exists("/sys/class/net/br0/bridge"));  // this namespace's /sys
  for (const char *code : {"cn", "en", "ct", "vn"})
    EXPECT_NE(read_file(std::string("/web_brim/js/language_") + code + ".js").find(std::string("\"") + code + "\""),
              std::string::npos) << code;
  auto r = run_shell("APMIB_STORE=\"$BRIM_REPO/platform/factory.store\" apmib show");
  EXPECT_EQ(r.output.find("ignored"), std::string::npos) << r.output;
  for (const char *line : {"OP_MODE = 0", "IP_ADDR = 192.168.0.1", "SUBNET_MASK = 255.255.255.0", "WAN_DHCP = 1",
                           "WEB_LANGUAGE = \"en\"", "TELNET_ENABLED = 0"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line;
}

TEST_F(Sandbox, BrokerRunsAsVzBrokerOnLoopbackOnlyAndKillallStopsIt) {
  run_shell("killall vz_broker");  // one left by an earlier boot would hold the port
  ASSERT_TRUE(wait_for_process("vz_broker", false));
  ASSERT_EQ(run_shell("vz_broker -c /etc/mosquitto.conf & 2> /dev/null").status, 0);
  EXPECT_TRUE(wait_until([] { return accepts_connections(1883); }));
  EXPECT_FALSE(accepts_connections(1883, "192.168.0.1")) << "the broker must not listen on the LAN";
  EXPECT_EQ(run_shell("killall vz_broker").status, 0);
  EXPECT_TRUE(wait_for_process("vz_broker", false));
}

// udhcpc is the real client behind its journal line: asked for eth0, which is missing, it gives up.
TEST_F(Sandbox, StandInsJournalTheirArgumentsAndInputExactly) {
  const Lines hostile = {"$(touch /tmp/canary)", "`touch /tmp/canary`", "a;b|c&d>e", "it's", "say \"hi\"",
                         "back\\slash", "two words", "", "line\nbreak", "tab\there", "ctl\x01\x7f", "-n", "plain-arg_1.2/x"};
  unlink("/tmp/canary");
  for (const char *prog : {"iwpriv", "flash", "sysconf", "init.sh", "killsh.sh", "udhcpc", "udhcpd", "ifconfig", "route"}) {
    clear_journal();
    Lines argv = {prog};
    argv.insert(argv.end(), hostile.begin(), hostile.end());
    EXPECT_EQ(run_program(argv).status, std::string(prog) == "udhcpc" ? 1 : 0) << prog;
    EXPECT_EQ(journal_lines(), Lines{journal_line(argv)});
  }
  clear_journal();
  const std::string pw = "p$a`s`s\\w\"o'rd ;|&> $(touch /tmp/canary) end ";
  ASSERT_EQ(run_program({"passwd", "-n"}, pw + "\n" + pw + "\n").status, 0);
  const std::string fed = "passwd<stdin> " + journal_quote(pw);
  EXPECT_EQ(journal_lines(), (Lines{"passwd -n", fed, fed}));
  EXPECT_FALSE(exists("/tmp/canary"));
  EXPECT_EQ(journal_quote("a\"\\\n\t\r\x01\x7f"), "\"a\\\"\\\\\\n\\t\\r\\x01\\x7f\"");
}

TEST_F(Sandbox, ShellJournalRecordsCommandsOnlyWhenAskedAndIsTransparent) {
  ASSERT_EQ(run_shell("true").status, 0);
  EXPECT_TRUE(journal_lines().empty());
  setenv("BRIM_SH_JOURNAL", "1", 1);
  ASSERT_EQ(run_shell("echo '0' > /tmp/update_flag").status, 0);
  ASSERT_EQ(run_shell("echo a\necho \"b\\c\"").status, 0);
  EXPECT_EQ(sh_commands(), (Lines{"echo '0' > /tmp/update_flag", "echo a\\necho \"b\\c\""}));
  clear_journal();
  EXPECT_EQ(BrimSystem("exit 0", 0), 0);  // the library's runner goes through the same shell
  EXPECT_EQ(run_program({"route", "add"}).status, 0);  // scripts are not journaled as commands
  EXPECT_EQ(journal_lines(), (Lines{"sh -c exit 0", "route add"}));
  EXPECT_EQ(run_shell("printf '%s|' \"$0\" x; exit 7").status, 7);  // transparent to the caller
  EXPECT_EQ(run_program({"sh", "-c", "read l; echo \"$l\"; kill -TERM $$"}, "in put\n").output, "in put\n");
}

}  // namespace
