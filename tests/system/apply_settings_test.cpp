// takeEffectWlan in the simulated router: the shell journal records every "sh -c" command line
// exactly as the library handed it over, in order, and the firmware's stand-ins (flash, ifconfig,
// sysconf, route, and a logging killall put first on PATH here) record what they were asked.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::exists;
using brim_test::journal_lines_of;
using brim_test::sh_commands;
using Lines = std::vector<std::string>;

// Every interface enabled, repeaters on, gateway mode with a DHCP WAN; tests append overrides
// (a later line for the same key wins).
const char kBase[] =
    "OP_MODE = 0\n"
    "WAN_DHCP = 1\n"
    "WAN_DEFAULT_GATEWAY = 0.0.0.0\n"
    "WISP_WAN_ID = 0\n"
    "REPEATER_ENABLED1 = 1\n"
    "REPEATER_ENABLED2 = 1\n"
    "wlan0.WLAN_DISABLED = 0\n"
    "wlan0-va0.WLAN_DISABLED = 0\n"
    "wlan0-va1.WLAN_DISABLED = 0\n"
    "wlan1.WLAN_DISABLED = 0\n"
    "wlan1-va0.WLAN_DISABLED = 0\n"
    "wlan1-va1.WLAN_DISABLED = 0\n";

// What the restart step runs after the bridge list is known.
Lines restart_commands(const std::string &list) {
  return {"sysconf wlan_set " + list + "& \\n", "sysconf wlanapp start wlan0 wlan1 br0&", "sysconf upnpd 1 1"};
}

Lines concat(Lines a, const Lines &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Lines kCycleWlan0 = {"flash set_mib wlan0;ifconfig wlan0 down;ifconfig wlan0 up"};
const Lines kCycleWlan1 = {"flash set_mib wlan1;ifconfig wlan1 down;ifconfig wlan1 up"};

class TakeEffectWlan : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    // The real killall would leave no trace; this one records its arguments like the stand-ins.
    char tmpl[] = "/tmp/brim_killall_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    bin_ = tmpl;
    ASSERT_TRUE(brim_test::write_file(bin_ + "/killall", "#!/bin/sh\nexec brim-journal killall \"$@\"\n"));
    ASSERT_EQ(chmod((bin_ + "/killall").c_str(), 0755), 0);
    const char *path = getenv("PATH");
    old_path_ = path ? path : "";
    setenv("PATH", (bin_ + ":" + old_path_).c_str(), 1);
    setenv("BRIM_SH_JOURNAL", "1", 1);
    wlan_idx = vwlan_idx = 0;
  }
  void TearDown() override {
    unsetenv("BRIM_SH_JOURNAL");
    if (!bin_.empty()) {
      setenv("PATH", old_path_.c_str(), 1);
      unlink((bin_ + "/killall").c_str());
      rmdir(bin_.c_str());
    }
    wlan_idx = vwlan_idx = 0;
  }

  void store(const std::string &overrides) {
    brim_test::use_store(std::string(kBase) + overrides);
    ASSERT_NE(apmib_init(), 0);
  }

  // Runs the call, returning what it printed on standard output. After a restart it also waits
  // (bounded) for the two commands the shell put in the background to record themselves, so
  // that no late line lands in another test's journal.
  std::string apply(const char *name, int restart) {
    testing::internal::CaptureStdout();
    takeEffectWlan(name, restart);
    std::string out = testing::internal::GetCapturedStdout();
    if (out.find("=br_if=") != std::string::npos) {
      EXPECT_TRUE(brim_test::wait_for_journal_line("sysconf wlanapp start wlan0 wlan1 br0"));
      for (int i = 0; i < 500 && journal_lines_of("sysconf").size() < 3; ++i) usleep(10 * 1000);
    }
    return out;
  }

  std::string bin_, old_path_;
};

TEST_F(TakeEffectWlan, RootInterfaceWithoutRestartReloadsAndCyclesOnly) {
  store("");
  EXPECT_EQ(apply("wlan0", 0), "");
  EXPECT_EQ(sh_commands(), kCycleWlan0);
  EXPECT_EQ(journal_lines_of("flash"), Lines{"flash set_mib wlan0"});
  EXPECT_EQ(journal_lines_of("ifconfig"), (Lines{"ifconfig wlan0 down", "ifconfig wlan0 up"}));
  EXPECT_EQ(wlan_idx, 0);
  EXPECT_EQ(vwlan_idx, 0);
}

TEST_F(TakeEffectWlan, VirtualInterfaceGoesDownBeforeItsRadioAndUpAfterIt) {
  store("");
  apply("wlan0-va1", 0);
  EXPECT_EQ(sh_commands(), (Lines{"ifconfig wlan0-va1 down;ifconfig wlan0 down",
                                  "flash set_mib wlan0;flash set_mib wlan0-va1",
                                  "ifconfig wlan0 up;ifconfig wlan0-va1 up"}));
  // The selection is left on the applied interface.
  EXPECT_EQ(wlan_idx, 0);
  EXPECT_EQ(vwlan_idx, 2);
}

TEST_F(TakeEffectWlan, GatewayModeBridgesTheEnabledAccessPointsAndTheRepeater) {
  // A static WAN with a gateway is repaired only in wireless-WAN mode: not here.
  store("wlan0-va1.WLAN_DISABLED = 1\nWAN_DHCP = 0\nWAN_DEFAULT_GATEWAY = 192.168.9.1\n");
  EXPECT_EQ(apply("wlan0", 1), "=br_if=[wlan0 wlan0-va0  wlan0-vxd]=\n");
  EXPECT_EQ(sh_commands(), concat(kCycleWlan0, restart_commands("wlan0 wlan0-va0  wlan0-vxd")));
  // The shell splits the list into arguments; the two background commands may record in any order.
  Lines sysconf = journal_lines_of("sysconf");
  std::sort(sysconf.begin(), sysconf.end());
  EXPECT_EQ(sysconf, (Lines{"sysconf upnpd 1 1", "sysconf wlan_set wlan0 wlan0-va0 wlan0-vxd",
                            "sysconf wlanapp start wlan0 wlan1 br0"}));
  EXPECT_TRUE(journal_lines_of("route").empty());
}

TEST_F(TakeEffectWlan, WirelessWanKeepsTheWanRepeaterOutOfTheBridge) {
  // Radio 0 carries the WAN; applying radio 0 with a static WAN replaces its default route.
  // The access points' enabled flags do not matter in this mode.
  store("OP_MODE = 2\nWAN_DHCP = 0\nWAN_DEFAULT_GATEWAY = 10.1.2.254\nwlan0-va0.WLAN_DISABLED = 1\n");
  EXPECT_EQ(apply("wlan0", 1), "=br_if=[wlan0 wlan0-va0 wlan0-va1]=\n");
  EXPECT_EQ(sh_commands(),
            concat(concat(kCycleWlan0, restart_commands("wlan0 wlan0-va0 wlan0-va1")),
                   {"route del start default wlan0-vxd", "route add -net default gw 10.1.2.254 dev wlan0-vxd\\n"}));
  EXPECT_EQ(journal_lines_of("route"), (Lines{"route del start default wlan0-vxd",
                                              "route add -net default gw 10.1.2.254 dev wlan0-vxd"}));
}

TEST_F(TakeEffectWlan, WirelessWanOnTheOtherRadioRunsNoRouteCommand) {
  // Item 193 = 1: radio 1 carries the WAN, so radio 0's repeater joins the bridge.
  store("OP_MODE = 2\nWISP_WAN_ID = 1\nWAN_DHCP = 0\nWAN_DEFAULT_GATEWAY = 10.1.2.254\n");
  EXPECT_EQ(apply("wlan0", 1), "=br_if=[wlan0 wlan0-va0 wlan0-va1 wlan0-vxd]=\n");
  EXPECT_EQ(sh_commands(), concat(kCycleWlan0, restart_commands("wlan0 wlan0-va0 wlan0-va1 wlan0-vxd")));
}

TEST_F(TakeEffectWlan, WirelessWanOnRadioOneRepairsItsRouteFromAVirtualInterface) {
  // Applying an access point of radio 1 never reaches the repeater take-down, even with both
  // repeaters switched off.
  store("OP_MODE = 2\nWISP_WAN_ID = 1\nWAN_DHCP = 0\nWAN_DEFAULT_GATEWAY = 172.16.0.1\n"
        "REPEATER_ENABLED1 = 0\nREPEATER_ENABLED2 = 0\n");
  EXPECT_EQ(apply("wlan1-va0", 1), "=br_if=[wlan1 wlan1-va0 wlan1-va1]=\n");
  EXPECT_EQ(sh_commands(), concat(concat(Lines{"ifconfig wlan1-va0 down;ifconfig wlan1 down",
                                               "flash set_mib wlan1;flash set_mib wlan1-va0",
                                               "ifconfig wlan1 up;ifconfig wlan1-va0 up"},
                                         restart_commands("wlan1 wlan1-va0 wlan1-va1")),
                                  {"route del start default wlan1-vxd",
                                   "route add -net default gw 172.16.0.1 dev wlan1-vxd\\n"}));
  EXPECT_EQ(wlan_idx, 1);
  EXPECT_EQ(vwlan_idx, 1);
}

TEST_F(TakeEffectWlan, WirelessWanWithoutGatewayOrWithUnreadableRadioItem) {
  // Gateway 0.0.0.0: nothing to put back.
  store("OP_MODE = 2\nWAN_DHCP = 0\n");
  EXPECT_EQ(apply("wlan1", 1), "=br_if=[wlan1 wlan1-va0 wlan1-va1 wlan1-vxd]=\n");
  EXPECT_EQ(sh_commands(), concat(kCycleWlan1, restart_commands("wlan1 wlan1-va0 wlan1-va1 wlan1-vxd")));

  // An item 193 that cannot be read counts as radio 0.
  brim_test::clear_journal();
  store("OP_MODE = 2\nWAN_DHCP = 0\nWAN_DEFAULT_GATEWAY = 10.0.0.1\n!WISP_WAN_ID = 1\n");
  EXPECT_EQ(apply("wlan0", 1), "=br_if=[wlan0 wlan0-va0 wlan0-va1]=\n");
  EXPECT_EQ(sh_commands(),
            concat(concat(kCycleWlan0, restart_commands("wlan0 wlan0-va0 wlan0-va1")),
                   {"route del start default wlan0-vxd", "route add -net default gw 10.0.0.1 dev wlan0-vxd\\n"}));
}

TEST_F(TakeEffectWlan, WirelessWanWithDhcpRenewsTheLease) {
  store("OP_MODE = 2\nWAN_DHCP = 1\nWAN_DEFAULT_GATEWAY = 10.0.0.1\n");
  apply("wlan0", 1);
  EXPECT_EQ(sh_commands(), concat(concat(kCycleWlan0, restart_commands("wlan0 wlan0-va0 wlan0-va1")),
                                  {"killall -SIGUSR1 udhcpc"}));
  EXPECT_EQ(journal_lines_of("killall"), Lines{"killall -SIGUSR1 udhcpc"});
  EXPECT_TRUE(journal_lines_of("route").empty());
}

TEST_F(TakeEffectWlan, DisabledInterfaceEndsDown) {
  store("wlan0.WLAN_DISABLED = 1\n");
  apply("wlan0", 0);
  EXPECT_EQ(sh_commands(), concat(kCycleWlan0, {"ifconfig wlan0 up down 2> /dev/null"}));
  EXPECT_EQ(journal_lines_of("ifconfig"), (Lines{"ifconfig wlan0 down", "ifconfig wlan0 up", "ifconfig wlan0 up down"}));
}

TEST_F(TakeEffectWlan, SwitchedOffRepeaterIsTakenDownWithItsRadio) {
  store("REPEATER_ENABLED1 = 0\n");
  apply("wlan0", 0);
  EXPECT_EQ(sh_commands(), concat(kCycleWlan0, {"ifconfig wlan0-vxd down 2> /dev/null"}));

  // Radio 1 looks at its own item (252), not at radio 0's.
  brim_test::clear_journal();
  apply("wlan1", 0);
  EXPECT_EQ(sh_commands(), kCycleWlan1);
  brim_test::clear_journal();
  store("REPEATER_ENABLED2 = 0\n");
  apply("wlan1", 0);
  EXPECT_EQ(sh_commands(), concat(kCycleWlan1, {"ifconfig wlan1-vxd down 2> /dev/null"}));

  // An unreadable flag counts as off.
  brim_test::clear_journal();
  store("!REPEATER_ENABLED1 = 1\n");
  apply("wlan0", 0);
  EXPECT_EQ(sh_commands(), concat(kCycleWlan0, {"ifconfig wlan0-vxd down 2> /dev/null"}));
}

TEST_F(TakeEffectWlan, NamesThatAreNotPlainRunNothing) {
  store("");
  const std::string canary = "/tmp/brim_wlan_canary";
  unlink(canary.c_str());
  const std::string hostile[] = {
      "wlan0;touch " + canary,  "$(touch " + canary + ")", "`touch " + canary + "`", "wlan0 x;touch " + canary,
      "wlan0\ntouch " + canary, "wlan0|touch " + canary, "wlan0-va0aaaaaaaa",  // 17 characters
      "-a", ""};
  wlan_idx = 1;
  vwlan_idx = 3;
  for (const std::string &h : hostile) {
    EXPECT_EQ(apply(h.c_str(), 1), "") << h;
    apply(h.c_str(), 0);
  }
  apply(nullptr, 1);
  EXPECT_FALSE(exists(canary)) << "a hostile name reached a shell";
  EXPECT_TRUE(brim_test::journal_lines().empty()) << brim_test::journal_lines()[0];
  EXPECT_EQ(wlan_idx, 1) << "the selection changed for a refused name";
  EXPECT_EQ(vwlan_idx, 3);
  unlink(canary.c_str());
}

}  // namespace
