// The simulated router itself: what the boot and the library rely on finding there.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::journal_line;
using brim_test::journal_lines;
using brim_test::read_file;
using brim_test::run_program;
using brim_test::run_shell;

class Sandbox : public brim_test::SandboxTest {};

bool can_connect(const char *ip, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip, &a.sin_addr);
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// Arguments that a shell would take apart or run if any stand-in passed them through one.
const std::vector<std::string> kHostile = {
    "$(touch /tmp/canary)", "`touch /tmp/canary`", "a;b|c&d>e", "it's", "say \"hi\"", "back\\slash",
    "two words", "", "line\nbreak", "tab\there", std::string("ctl\x01\x7f"), "-n", "plain-arg_1.2/x"};

// --- the machine ---

TEST_F(Sandbox, IsItsOwnHostWithItsOwnProcesses) {
  char name[64] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  EXPECT_STREQ(name, "brim-router");
  // PID 1 is the sandbox's own setup shell, so no host process is visible or reachable.
  EXPECT_NE(read_file("/proc/1/cmdline").find("brim-sandbox"), std::string::npos);
  EXPECT_EQ(std::string(std::getenv("PATH")).rfind("/opt/brim/bin:", 0), 0u);
}

TEST_F(Sandbox, LanBridgeCarriesTheStoredAddressAndWanPortHasNone) {
  apmib_init();
  char lan[32] = {};
  ASSERT_NE(getLanIp(lan), nullptr);
  auto br0 = run_shell("ip -4 -o addr show dev br0");
  ASSERT_EQ(br0.status, 0) << br0.output;
  EXPECT_NE(br0.output.find(std::string(" ") + lan + "/24 "), std::string::npos) << br0.output;
  auto eth1 = run_shell("ip -4 -o addr show dev eth1; ip -o link show dev eth1");
  ASSERT_EQ(eth1.status, 0) << eth1.output;
  EXPECT_EQ(eth1.output.find("inet "), std::string::npos) << eth1.output;
  EXPECT_NE(eth1.output.find("eth1@eth1-peer"), std::string::npos) << eth1.output;
  // /sys was mounted inside this network namespace: it shows these interfaces, not the host's.
  EXPECT_TRUE(brim_test::exists("/sys/class/net/br0/bridge"));
  EXPECT_TRUE(brim_test::exists("/sys/class/net/eth1"));
}

TEST_F(Sandbox, WebFilesAndFactoryStoreAreInPlace) {
  for (const char *code : {"cn", "en", "ct", "vn"}) {
    std::string text = read_file(std::string("/web_brim/js/language_") + code + ".js");
    EXPECT_NE(text.find(std::string("\"") + code + "\""), std::string::npos) << code;
  }
  auto r = run_shell("APMIB_STORE=\"$BRIM_REPO/platform/factory.store\" apmib show");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("ignored"), std::string::npos) << r.output;
  for (const char *line : {"OP_MODE = 0", "IP_ADDR = 192.168.0.1", "SUBNET_MASK = 255.255.255.0",
                           "WAN_DHCP = 1", "WEB_LANGUAGE = \"en\"", "TELNET_ENABLED = 0"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line;
}

// --- the broker under its firmware name ---

TEST_F(Sandbox, BrokerRunsAsVzBrokerOnLoopbackOnlyAndKillallStopsIt) {
  // A broker left by an earlier boot would make this one wait for it to go.
  run_shell("killall vz_broker");
  ASSERT_TRUE(brim_test::wait_for_process("vz_broker", false));
  ASSERT_EQ(run_shell("vz_broker -c /etc/mosquitto.conf & 2> /dev/null").status, 0);
  ASSERT_TRUE(brim_test::wait_for_process("vz_broker", true));
  bool up = false;
  for (int i = 0; i < 250 && !(up = can_connect("127.0.0.1", 1883)); ++i) usleep(20 * 1000);
  EXPECT_TRUE(up);
  EXPECT_FALSE(can_connect("192.168.0.1", 1883)) << "the broker must not listen on the LAN";
  EXPECT_EQ(run_shell("killall vz_broker").status, 0);
  EXPECT_TRUE(brim_test::wait_for_process("vz_broker", false));
}

// --- the stand-ins ---

// udhcpc is the real DHCP client behind its journal line: these arguments ask it for the default
// interface eth0, which the router lacks, so it gives up at once.
TEST_F(Sandbox, StandInsJournalTheirArgumentsExactly) {
  unlink("/tmp/canary");
  for (const char *prog : {"iwpriv", "flash", "sysconf", "init.sh", "killsh.sh", "udhcpc", "udhcpd",
                           "ifconfig", "route", "passwd"}) {
    brim_test::clear_journal();
    std::vector<std::string> argv = {prog};
    argv.insert(argv.end(), kHostile.begin(), kHostile.end());
    ASSERT_EQ(run_program(argv).status, std::string(prog) == "udhcpc" ? 1 : 0) << prog;
    auto lines = journal_lines();
    ASSERT_EQ(lines.size(), 1u) << prog;
    EXPECT_EQ(lines[0], journal_line(argv));
    std::vector<std::string> back;
    ASSERT_TRUE(brim_test::parse_journal_line(lines[0], &back)) << lines[0];
    EXPECT_EQ(back, argv);
  }
  EXPECT_FALSE(brim_test::exists("/tmp/canary"));
}

TEST_F(Sandbox, PasswdJournalsEachLineFedToItIntact) {
  const std::string pw = "p$a`s`s\\w\"o'rd ;|&> $(touch /tmp/canary) end ";
  unlink("/tmp/canary");
  ASSERT_EQ(run_program({"passwd"}, pw + "\n" + pw + "\n").status, 0);
  auto lines = journal_lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "passwd");
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(lines[i], "passwd<stdin> " + brim_test::journal_quote(pw));
    std::vector<std::string> back;
    ASSERT_TRUE(brim_test::parse_journal_line(lines[i], &back));
    EXPECT_EQ(back, (std::vector<std::string>{"passwd<stdin>", pw}));
  }
  EXPECT_FALSE(brim_test::exists("/tmp/canary"));
}

// --- the shell journal ---

using ShellJournal = Sandbox;  // SandboxTest's set-up unsets BRIM_SH_JOURNAL

TEST_F(ShellJournal, RecordsEachCommandOnOneLineOnlyWhenAsked) {
  ASSERT_EQ(run_shell("true").status, 0);
  EXPECT_TRUE(journal_lines().empty());
  setenv("BRIM_SH_JOURNAL", "1", 1);
  ASSERT_EQ(run_shell("echo '0' > /tmp/update_flag").status, 0);
  ASSERT_EQ(run_shell("echo a\necho \"b\\c\"").status, 0);
  EXPECT_EQ(brim_test::sh_commands(),
            (std::vector<std::string>{"echo '0' > /tmp/update_flag", "echo a\\necho \"b\\c\""}));
  // The library's own runner goes through the same shell.
  brim_test::clear_journal();
  EXPECT_EQ(BrimSystem("exit 0", 0), 0);
  EXPECT_EQ(journal_lines(), (std::vector<std::string>{"sh -c exit 0"}));
}

TEST_F(ShellJournal, IsTransparentToTheShellsCaller) {
  setenv("BRIM_SH_JOURNAL", "1", 1);
  auto r = run_shell("printf '%s|' \"$0\" x; cat; exit 7");
  EXPECT_EQ(r.status, 7);
  EXPECT_EQ(r.output, "/bin/sh|x|");
  EXPECT_EQ(run_program({"sh", "-c", "read l; echo \"$l\"; kill -TERM $$"}, "in put\n").output, "in put\n");
  EXPECT_EQ(run_shell("kill -TERM $$").status, 128 + SIGTERM);
  auto err = run_shell("no_such_program_here");
  EXPECT_EQ(err.status, 127);
  EXPECT_EQ(err.output.rfind("/bin/sh: 1: no_such_program_here: not found", 0), 0u) << err.output;
  // Scripts run through the journaling shell too, and are not journaled as commands.
  brim_test::clear_journal();
  EXPECT_EQ(run_program({"route", "add"}).status, 0);
  EXPECT_EQ(journal_lines(), (std::vector<std::string>{"route add"}));
}

}  // namespace
