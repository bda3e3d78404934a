// takeEffectWlan in the simulated router: the shell journal records every "sh -c" line as the
// library handed it over, in order, and the stand-ins (flash, ifconfig, sysconf, route, and a
// logging killall first on PATH here) record what they were asked.
#include <algorithm>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

// Every interface enabled, repeaters on, gateway mode with a DHCP WAN; rows append overrides.
const char kBase[] =
    "OP_MODE = 0\nWAN_DHCP = 1\nWAN_DEFAULT_GATEWAY = 0.0.0.0\nWISP_WAN_ID = 0\n"
    "REPEATER_ENABLED1 = 1\nREPEATER_ENABLED2 = 1\n"
    "wlan0.WLAN_DISABLED = 0\nwlan0-va0.WLAN_DISABLED = 0\nwlan0-va1.WLAN_DISABLED = 0\n"
    "wlan1.WLAN_DISABLED = 0\nwlan1-va0.WLAN_DISABLED = 0\nwlan1-va1.WLAN_DISABLED = 0\n";

Lines cat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// What the restart step runs once the bridge list is known.
Lines restart(const std::string &list) {
  return {"sysconf wlan_set " + list + "& \\n", "sysconf wlanapp start wlan0 wlan1 br0&", "sysconf upnpd 1 1"};
}
Lines route(const std::string &gw, const std::string &dev) {
  return {"route del start default " + dev, "route add -net default gw " + gw + " dev " + dev + "\\n"};
}

const Lines kCycle0 = {"flash set_mib wlan0;ifconfig wlan0 down;ifconfig wlan0 up"};
const Lines kCycle1 = {"flash set_mib wlan1;ifconfig wlan1 down;ifconfig wlan1 up"};

class TakeEffectWlan : public SandboxTest {
 protected:
  // The real killall would leave no trace; this one, first on PATH, records its arguments.
  void prepare() override {
    BRIM_SH("mkdir -p /tmp/brim_bin && printf '#!/bin/sh\\nexec brim-journal killall \"$@\"\\n' >/tmp/brim_bin/killall && "
            "chmod 755 /tmp/brim_bin/killall");
    setenv("PATH", ("/tmp/brim_bin:" + path_).c_str(), 1);
    setenv("BRIM_SH_JOURNAL", "1", 1);
  }
  void cleanup() override {
    setenv("PATH", path_.c_str(), 1);
    run_shell("rm -rf /tmp/brim_bin");
    wlan_idx = vwlan_idx = 0;
  }
  // Runs the call on a fresh journal; returns its standard output. After a restart, waits for
  // the two commands the shell put in the background, so no late line lands in the next row's.
  static std::string apply(const char *name, int restart) {
    clear_journal();
    testing::internal::CaptureStdout();
    takeEffectWlan(name, restart);
    std::string out = testing::internal::GetCapturedStdout();
    if (out.find("=br_if=") != std::string::npos) {
      EXPECT_TRUE(wait_until([] { return journal_lines_of("sysconf").size() >= 3; }));
    }
    return out;
  }
  std::string path_ = getenv("PATH");
};

struct Row {
  const char *what;
  std::string store;  // appended to kBase
  const char *name;
  int restart;
  std::string out;  // standard output
  Lines commands;   // every sh -c line, in order
  int radio, slot;  // the selection left behind
  std::vector<std::pair<std::string, Lines>> seen = {};  // stand-in journal lines per program
};

TEST_F(TakeEffectWlan, RunsTheCommandsOfEachSetting) {
  const std::string wisp = "OP_MODE = 2\nWAN_DHCP = 0\n";
  const Row rows[] = {
      {"root interface without restart: reload and cycle only", "", "wlan0", 0, "", kCycle0, 0, 0,
       {{"flash", {"flash set_mib wlan0"}}}},
      {"virtual interface goes down before its radio and up after it", "", "wlan0-va1", 0, "",
       {"ifconfig wlan0-va1 down;ifconfig wlan0 down", "flash set_mib wlan0;flash set_mib wlan0-va1",
        "ifconfig wlan0 up;ifconfig wlan0-va1 up"},
       0, 2},
      // A static WAN with a gateway is repaired only in wireless-WAN mode.
      {"gateway mode bridges the enabled access points and the repeater",
       "wlan0-va1.WLAN_DISABLED = 1\nWAN_DHCP = 0\nWAN_DEFAULT_GATEWAY = 192.168.9.1\n", "wlan0", 1,
       "=br_if=[wlan0 wlan0-va0  wlan0-vxd]=\n", cat({kCycle0, restart("wlan0 wlan0-va0  wlan0-vxd")}), 0, 0,
       {{"sysconf",  // the shell splits the list into arguments
         {"sysconf upnpd 1 1", "sysconf wlan_set wlan0 wlan0-va0 wlan0-vxd", "sysconf wlanapp start wlan0 wlan1 br0"}},
        {"route", {}}}},
      // Radio 0 carries the WAN: its repeater stays out of the bridge, its default route is
      // replaced; the access points' enabled flags do not matter in this mode.
      {"wireless WAN keeps the WAN repeater out of the bridge",
       wisp + "WAN_DEFAULT_GATEWAY = 10.1.2.254\nwlan0-va0.WLAN_DISABLED = 1\n", "wlan0", 1,
       "=br_if=[wlan0 wlan0-va0 wlan0-va1]=\n",
       cat({kCycle0, restart("wlan0 wlan0-va0 wlan0-va1"), route("10.1.2.254", "wlan0-vxd")}), 0, 0,
       {{"route", {"route del start default wlan0-vxd", "route add -net default gw 10.1.2.254 dev wlan0-vxd"}}}},
      {"wireless WAN on the other radio runs no route command",
       wisp + "WISP_WAN_ID = 1\nWAN_DEFAULT_GATEWAY = 10.1.2.254\n", "wlan0", 1,
       "=br_if=[wlan0 wlan0-va0 wlan0-va1 wlan0-vxd]=\n",
       cat({kCycle0, restart("wlan0 wlan0-va0 wlan0-va1 wlan0-vxd")}), 0, 0},
      // An access point of radio 1 never reaches the repeater take-down, even with both off.
      {"wireless WAN on radio 1 repairs its route from a virtual interface",
       wisp + "WISP_WAN_ID = 1\nWAN_DEFAULT_GATEWAY = 172.16.0.1\nREPEATER_ENABLED1 = 0\nREPEATER_ENABLED2 = 0\n",
       "wlan1-va0", 1, "=br_if=[wlan1 wlan1-va0 wlan1-va1]=\n",
       cat({{"ifconfig wlan1-va0 down;ifconfig wlan1 down", "flash set_mib wlan1;flash set_mib wlan1-va0",
             "ifconfig wlan1 up;ifconfig wlan1-va0 up"},
            restart("wlan1 wlan1-va0 wlan1-va1"), route("172.16.0.1", "wlan1-vxd")}),
       1, 1},
      {"wireless WAN without a gateway puts no route back", wisp + "WAN_DEFAULT_GATEWAY = 0.0.0.0\n", "wlan0", 1,
       "=br_if=[wlan0 wlan0-va0 wlan0-va1]=\n", cat({kCycle0, restart("wlan0 wlan0-va0 wlan0-va1")}), 0, 0,
       {{"route", {}}}},
      {"an unreadable item 193 counts as radio 0", wisp + "WAN_DEFAULT_GATEWAY = 10.0.0.1\n!WISP_WAN_ID = 1\n",
       "wlan0", 1, "=br_if=[wlan0 wlan0-va0 wlan0-va1]=\n",
       cat({kCycle0, restart("wlan0 wlan0-va0 wlan0-va1"), route("10.0.0.1", "wlan0-vxd")}), 0, 0},
      {"wireless WAN with DHCP renews the lease", "OP_MODE = 2\nWAN_DHCP = 1\nWAN_DEFAULT_GATEWAY = 10.0.0.1\n",
       "wlan0", 1, "=br_if=[wlan0 wlan0-va0 wlan0-va1]=\n",
       cat({kCycle0, restart("wlan0 wlan0-va0 wlan0-va1"), {"killall -SIGUSR1 udhcpc"}}), 0, 0,
       {{"killall", {"killall -SIGUSR1 udhcpc"}}}},
      {"a disabled interface ends down", "wlan0.WLAN_DISABLED = 1\n", "wlan0", 0, "",
       cat({kCycle0, {"ifconfig wlan0 up down 2> /dev/null"}}), 0, 0},
      {"a switched-off repeater is taken down with its radio", "REPEATER_ENABLED1 = 0\n", "wlan0", 0, "",
       cat({kCycle0, {"ifconfig wlan0-vxd down 2> /dev/null"}}), 0, 0},
      {"radio 1 looks at its own repeater item, not radio 0's", "REPEATER_ENABLED1 = 0\n", "wlan1", 0, "", kCycle1,
       1, 0},
      {"radio 1's switched-off repeater", "REPEATER_ENABLED2 = 0\n", "wlan1", 0, "",
       cat({kCycle1, {"ifconfig wlan1-vxd down 2> /dev/null"}}), 1, 0},
      {"an unreadable repeater flag counts as off", "!REPEATER_ENABLED1 = 1\n", "wlan0", 0, "",
       cat({kCycle0, {"ifconfig wlan0-vxd down 2> /dev/null"}}), 0, 0},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    use_store(std::string(kBase) + row.store);
    ASSERT_NE(apmib_init(), 0);
    wlan_idx = 1 - row.radio;  // a selection the call must move
    vwlan_idx = 4;
    EXPECT_EQ(apply(row.name, row.restart), row.out);
    EXPECT_EQ(sh_commands(), row.commands);
    EXPECT_EQ(wlan_idx, row.radio);
    EXPECT_EQ(vwlan_idx, row.slot);
    for (const auto &[prog, want] : row.seen) {
      Lines got = journal_lines_of(prog), sorted_want = want;
      if (prog == "sysconf") {  // the two background commands record in any order
        std::sort(got.begin(), got.end());
        std::sort(sorted_want.begin(), sorted_want.end());
      }
      EXPECT_EQ(got, sorted_want) << prog;
    }
  }
}

}  // namespace
