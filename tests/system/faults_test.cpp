// Faults injected into the simulated router: store items that cannot be read, a file system that
// fills up, a storm of signals, a broker that goes away or stops answering, and a subscriber
// killed while it serves a request (in the road tests). Each test states what must hold.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "brimlib.h"
#include "brimlib/config/item_ids.h"
#include "platform/apmib/store.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

// ---------------------------------------------------------------------------------------------
// Store items failing in turn.

// The store file lines that make every slot of `item` unreadable.
std::string unreadable_lines(const apmib::Item &item) {
  std::string out;
  char key[96];
  int radios = item.per_wlan ? apmib::kRadios : 1;
  int slots = item.per_wlan ? apmib::kSlots : 1;
  for (int r = 0; r < radios; ++r)
    for (int s = 0; s < slots; ++s)
      if (apmib::format_key(item, r, s, key, sizeof key) > 0) out += std::string("!") + key + "\n";
  return out;
}

// Gives every slot of `item` a value that differs from the base stores', so a reader that shows
// a value left from an earlier call gives itself away.
void prime(const apmib::Item &item) {
  uint8_t value[apmib::kMaxValue];
  std::memset(value, 0, sizeof value);
  if (item.kind == apmib::Kind::Int) {
    int32_t v = 12;
    std::memcpy(value, &v, sizeof v);
  } else if (item.kind == apmib::Kind::Ip) {
    const uint8_t ip[4] = {10, 1, 2, 3};
    std::memcpy(value, ip, sizeof ip);
  } else if (item.kind == apmib::Kind::Text) {
    std::memcpy(value, "primed", 6);
  } else {
    std::memset(value, 0x5a, item.size);
  }
  int saved_radio = wlan_idx, saved_slot = vwlan_idx;
  for (int r = 0; r < (item.per_wlan ? apmib::kRadios : 1); ++r)
    for (int s = 0; s < (item.per_wlan ? apmib::kSlots : 1); ++s) {
      wlan_idx = r;
      vwlan_idx = s;
      apmib_set(item.id, value);
    }
  wlan_idx = saved_radio;
  vwlan_idx = saved_slot;
}

// Everything the store readers say, one line each. A text that overruns its documented size or
// a caller's buffer written past its size shows as a "BROKEN" line.
std::string reader_snapshot() {
  std::string s;
  auto text = [&s](const char *name, const char *v, size_t cap) {
    if (v == nullptr) {
      s += std::string(name) + " (null)\n";
    } else if (::strnlen(v, cap) >= cap) {
      s += std::string("BROKEN ") + name + ": not terminated within " + std::to_string(cap) + "\n";
    } else {
      s += std::string(name) + " " + v + "\n";
    }
  };
  // A caller's buffer of `cap` bytes followed by guard bytes that must stay as they were.
  struct Guarded {
    char b[160];
    size_t cap;
    explicit Guarded(size_t c, char fill = '\0') : cap(c) {
      std::memset(b, 'G', sizeof b);
      std::memset(b, fill, c);
    }
    bool intact() const {
      for (size_t i = cap; i < sizeof b; ++i)
        if (b[i] != 'G') return false;
      return true;
    }
  };
  auto guarded = [&](const char *name, const Guarded &g) {
    if (!g.intact()) s += std::string("BROKEN ") + name + ": wrote past " + std::to_string(g.cap) + " bytes\n";
    text(name, g.b, g.cap);
  };

  {
    Guarded g(16);
    getLanIp(g.b);
    guarded("getLanIp", g);
  }
  {
    Guarded g(16);
    getLanNetmask(g.b);
    guarded("getLanNetmask", g);
  }
  s += "getOperationMode " + std::to_string(getOperationMode()) + "\n";
  s += "getDhcp " + std::to_string(getDhcp()) + "\n";
  {
    Guarded g(7, 'k');  // left as it was for a type without a name
    g.b[6] = '\0';
    getWanConnectMode(g.b);
    guarded("getWanConnectMode", g);
  }
  {
    Guarded g(20);
    getWanIfName(g.b);
    guarded("getWanIfName", g);
  }
  for (const char *ifname : {"wlan0", "wlan1", "wlan0-va2", "wlan1-vxd"}) {
    std::string p = std::string(ifname) + " ";
    s += p + "getWirelessOnOff " + std::to_string(getWirelessOnOff(ifname)) + "\n";
    s += p + "getWirelessMode " + std::to_string(getWirelessMode(ifname)) + "\n";
    text((p + "getWirelessKey").c_str(), getWirelessKey(ifname), 100);
    text((p + "getEncrypType").c_str(), getEncrypType(ifname), 8);
    text((p + "getAuthMode").c_str(), getAuthMode(ifname), 16);
    text((p + "getRptEncrypType").c_str(), getRptEncrypType(ifname), 8);
    text((p + "getRptAuthMode").c_str(), getRptAuthMode(ifname), 16);
  }
  text("getWanIp", getWanIp(), 16);
  text("getWanNetmask", getWanNetmask(), 16);
  text("getWanMac", getWanMac(), 18);
  text("getWanGateway", getWanGateway(), 16);
  s += "isDhcpClientExist " + std::to_string(isDhcpClientExist()) + "\n";
  s += "checkEthStatus " + std::to_string(checkEthStatus()) + "\n";
  s += "checkWanStatus " + std::to_string(checkWanStatus()) + "\n";
  {
    Guarded g(16, 'u');  // untouched when the uptime file cannot be read
    g.b[15] = '\0';
    getWanLinktime(g.b);
    guarded("getWanLinktime", g);
  }
  {
    Guarded g(13);
    get_wan_connect_status(g.b);
    guarded("get_wan_connect_status", g);
  }

  // Every item through the reply builders, by kind.
  size_t count = 0;
  const apmib::Item *all = apmib::items(&count);
  std::vector<const char *> names[3];
  std::vector<int32_t> ids[3];
  for (size_t i = 0; i < count; ++i) {
    int k = all[i].kind == apmib::Kind::Ip ? 0 : all[i].kind == apmib::Kind::Text ? 1 : all[i].kind == apmib::Kind::Int ? 2 : -1;
    if (k < 0) continue;
    names[k].push_back(all[i].name);
    ids[k].push_back(all[i].id);
  }
  cJSON *o = cJSON_CreateObject();
  getCfgArrayIP(o, static_cast<int32_t>(ids[0].size()), names[0].data(), ids[0].data());
  getCfgArrayStr(o, static_cast<int32_t>(ids[1].size()), names[1].data(), ids[1].data());
  getCfgArrayInt(o, static_cast<int32_t>(ids[2].size()), names[2].data(), ids[2].data());
  char *json = cJSON_PrintUnformatted(o);
  s += std::string("getCfgArray ") + (json ? json : "(null)") + "\n";
  cJSON_free(json);
  cJSON_Delete(o);

  // The WPS items a wireless change writes, read back from the store it leaves.
  SetWlan_idx("wlan0");
  std::memset(&wps_config_info, 0, sizeof wps_config_info);
  std::memset(&wps_config_info_tmp, 0, sizeof wps_config_info_tmp);
  wps_config_info.change_kind = 3;
  wps_config_info.encryption = 2;
  wps_config_info_tmp.encryption = 4;
  wps_config_info_tmp.authentication = 4;
  std::strcpy(wps_config_info_tmp.psk, "wps-passphrase");
  update_wps_configured(1);
  FILE *f = std::tmpfile();
  if (f != nullptr) {
    apmib::dump(fileno(f));
    std::rewind(f);
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) s += std::string("store ") + line;
    std::fclose(f);
  }
  return s;
}

// The snapshot of a process that never read anything before: a fresh child loads the store.
std::string fresh_snapshot() {
  int fds[2];
  if (pipe(fds) != 0) return "<pipe failed>";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string s = apmib_init() ? reader_snapshot() : "<apmib_init failed>";
    const char *p = s.data();
    size_t left = s.size();
    while (left > 0) {
      ssize_t w = write(fds[1], p, left);
      if (w <= 0) _exit(1);
      p += w;
      left -= static_cast<size_t>(w);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "<child failed: status " + std::to_string(status) + ">";
  return out;
}

class Faults : public SandboxTest {};

// For every item of the store, in turn, on two differently configured routers: reads of that
// item fail in every slot. The readers stay within their buffers, and what they say is what a
// process that never saw the item would say: nothing is left over from an earlier read.
TEST_F(Faults, StoreItemsFailingInTurn) {
  const std::string bases[] = {
      factory_store(),
      factory_store() + "OP_MODE = 2\nWAN_DHCP = 0\nWISP_WAN_ID = 1\nREPEATER_ENABLED2 = 1\n"
                        "wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 2\nwlan0.WLAN_WEP_KEY_TYPE = 1\n"
                        "wlan0.WLAN_WEP_DEFAULT_KEY = 1\nwlan0.WLAN_AUTH_TYPE = 1\nwlan1-vxd.WLAN_ENCRYPT = 6\n"
                        "wlan1-vxd.WLAN_DISABLED = 0\n",
  };
  size_t count = 0;
  const apmib::Item *all = apmib::items(&count);
  ASSERT_GT(count, 20u);
  for (const std::string &base : bases) {
    for (size_t i = 0; i < count; ++i) {
      const apmib::Item &item = all[i];
      SCOPED_TRACE(std::string("item ") + item.name + (&base == &bases[0] ? " (factory)" : " (repeater, WEP)"));
      // Primed: this process has read the item with a value of its own.
      use_store(base);
      ASSERT_TRUE(apmib_init());
      prime(item);
      std::string primed = reader_snapshot();
      ASSERT_EQ(primed.find("BROKEN"), std::string::npos) << primed;

      use_store(base + unreadable_lines(item));
      std::string fresh = fresh_snapshot();
      ASSERT_TRUE(apmib_init());
      std::string after = reader_snapshot();
      EXPECT_EQ(fresh.find("BROKEN"), std::string::npos) << fresh;
      EXPECT_EQ(after, fresh);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// A file system that fills up.

class FullFileSystem : public SandboxTest {
 protected:
  void TearDown() override {
    for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    SandboxTest::TearDown();
  }

  // Mounts a tmpfs of `bytes` on `dir` (made when missing).
  void mount_small(const std::string &dir, size_t bytes) {
    mkdir(dir.c_str(), 0755);
    std::string opts = "size=" + std::to_string(bytes) + ",mode=1777";
    ASSERT_EQ(mount("brim-small", dir.c_str(), "tmpfs", 0, opts.c_str()), 0) << dir << ": " << std::strerror(errno);
    mounts_.push_back(dir);
  }

  // Fills the file system of `dir` up to its last byte.
  static void fill(const std::string &dir) {
    std::string filler(4096, 'f');
    FILE *f = std::fopen((dir + "/filler").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::setvbuf(f, nullptr, _IONBF, 0);
    while (std::fwrite(filler.data(), 1, filler.size(), f) == filler.size()) {
    }
    std::fwrite(filler.data(), 1, 1, f);
    std::fclose(f);
  }

  std::vector<std::string> mounts_;
};

TEST_F(FullFileSystem, FileWritesReportTheShortCount) {
  const std::string dir = "/tmp/brim_small";
  mount_small(dir, 64 * 1024);
  std::string data(100 * 1024, 'd');
  const std::string path = dir + "/big";
  int n = f_write(path.c_str(), data.data(), static_cast<int>(data.size()), 0, 0);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(data.size()));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, n) << "the count is what the file holds";

  // Full to the last byte: no room for the data, nor for the line end after it.
  fill(dir);
  EXPECT_EQ(f_write((dir + "/filler").c_str(), "abc", 3, WRITE_FLAG_APPEND | WRITE_FLAG_NEWLINE, 0), -1);
  unlink(path.c_str());
  EXPECT_EQ(f_write(path.c_str(), "abc", 3, WRITE_FLAG_NEWLINE, 0), 4) << "room again once freed";
  EXPECT_EQ(read_file(path), "abc\n");
}

TEST_F(FullFileSystem, StoreCommitNeverLeavesATornFile) {
  const std::string dir = "/tmp/brim_small";
  mount_small(dir, 64 * 1024);
  const std::string path = dir + "/apmib.store";
  ASSERT_TRUE(write_file(path, factory_store()));
  setenv("APMIB_STORE", path.c_str(), 1);
  ASSERT_TRUE(apmib_init());
  ASSERT_EQ(apmib_update(0), 1);
  const std::string committed = read_file(path);

  fill(dir);
  ASSERT_TRUE(apmib_set(MIB_HOST_NAME, const_cast<char *>("after-full")));
  EXPECT_EQ(apmib_update(0), 0) << "a commit that could not be written is a failure";
  EXPECT_EQ(apmib_update_web(4), 0);
  EXPECT_EQ(read_file(path), committed) << "the last good store stays whole";
  EXPECT_EQ(trimmed(run_shell("ls " + dir).output), "apmib.store\nfiller") << "no temporary file left";

  unlink((dir + "/filler").c_str());
  EXPECT_EQ(apmib_update(0), 1);
  ASSERT_TRUE(apmib_init());
  char host[64] = {};
  ASSERT_TRUE(apmib_get(MIB_HOST_NAME, host));
  EXPECT_STREQ(host, "after-full");
}

// The temporary firmware image does not fit /tmp: no digest is recorded, nothing is left in
// /tmp, and the next run with room records the right digest.
TEST_F(FullFileSystem, FirmwareDigestWithNoRoomForTheImage) {
  const std::string flash = "/var/brim_flash";
  mkdir(flash.c_str(), 0755);
  std::string nohw(0xC000, 'n');
  std::string mtd0(0x30000, 'k');
  mtd0 += std::string("headerheader\x00\x00\x10\x00", 16) + std::string(0x1000, 'K');
  std::string mtd1(0x208002, 'r');
  ASSERT_TRUE(write_file("/etc/nohw.dat", nohw));
  ASSERT_TRUE(write_file(flash + "/mtdblock0", mtd0));
  ASSERT_TRUE(write_file(flash + "/mtdblock1", mtd1));
  for (const char *dev : {"mtdblock0", "mtdblock1"}) {
    std::string link = std::string("/dev/") + dev;
    unlink(link.c_str());
    ASSERT_EQ(symlink((flash + "/" + dev).c_str(), link.c_str()), 0);
  }
  unlink("/mnt/SysCurVerMd5");

  mount_small("/tmp", 1024 * 1024);  // the image is over 2 MiB
  testing::internal::CaptureStdout();
  int r = setFWMd5();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, -1);
  EXPECT_FALSE(exists("/mnt/SysCurVerMd5"));
  EXPECT_FALSE(exists("/tmp/tmpFw"));
  ASSERT_EQ(umount2("/tmp", MNT_DETACH), 0);
  mounts_.clear();

  testing::internal::CaptureStdout();
  r = setFWMd5();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(r, 0);
  std::string image = nohw + mtd0.substr(0x30000) + std::string("r6cr\x00\x2D\x00\x00\x00\x26\x00\x00\x00\x20\x80\x02", 16) + mtd1;
  std::string expect = trimmed(run_program({"md5sum"}, image).output).substr(0, 32);
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), expect + "\n");
  EXPECT_FALSE(exists("/tmp/tmpFw"));
  for (const char *f : {"/dev/mtdblock0", "/dev/mtdblock1", "/mnt/SysCurVerMd5", "/etc/nohw.dat"}) unlink(f);
  run_shell("rm -rf " + flash);
}

// ---------------------------------------------------------------------------------------------
// A storm of signals while commands run. The caller's handlers have no SA_RESTART, so every
// blocking call in the library is interrupted again and again.

std::atomic<long> g_storm_signals{0};
void on_storm_signal(int) { g_storm_signals.fetch_add(1, std::memory_order_relaxed); }

class SignalStorm : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    struct sigaction sa = {};
    sa.sa_handler = on_storm_signal;
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &sa, &old_[i]);
    g_storm_signals = 0;
    stop_ = false;
    pthread_t target = pthread_self();
    storm_ = std::thread([this, target] {
      for (unsigned i = 0; !stop_.load(); ++i) {
        pthread_kill(target, kSignals[i % std::size(kSignals)]);
        struct timespec ts = {0, 100 * 1000};
        nanosleep(&ts, nullptr);
      }
    });
  }
  void TearDown() override {
    if (storm_.joinable()) {
      stop_ = true;
      storm_.join();
      for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &old_[i], nullptr);
    }
    SandboxTest::TearDown();
  }

  static constexpr int kSignals[] = {SIGUSR1, SIGALRM, SIGCHLD, SIGUSR2};
  struct sigaction old_[std::size(kSignals)];
  std::atomic<bool> stop_{false};
  std::thread storm_;
};

TEST_F(SignalStorm, CommandsRunToTheirEndAndOutputArrivesWhole) {
  EXPECT_EQ(BrimSystem("sleep 0.3; exit 7", 0), 7 * 256);
  char buf[64] = {};
  EXPECT_EQ(getCmdStr("sleep 0.2; echo storm-line; echo second", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "storm-line");
  std::memset(buf, 0, sizeof buf);
  EXPECT_EQ(getCmdResult("sleep 0.2; echo result-line", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "result-line");
  EXPECT_EQ(getCmdVal("sleep 0.2; echo 4242"), 4242);
  char when[64] = {};
  ASSERT_NE(get_Create_Time(when), nullptr);
  EXPECT_EQ(std::strlen(when), 22u) << when;  // "YYYY-mm-dd HH:MM:SS AM"
  EXPECT_GT(g_storm_signals.load(), 100) << "the storm did not reach the waits";
}

// ---------------------------------------------------------------------------------------------
// The broker goes away, or stops answering.

TEST(BrokerFaults, PublishingWithTheBrokerGoneGivesAnErrorAtOnce) {
  Broker broker;
  ASSERT_TRUE(broker.start());
  Client handler;
  ASSERT_TRUE(handler.connect(broker.port()));
  EXPECT_EQ(vz_pub("a/b", "x", 1, 0), MOSQ_ERR_SUCCESS);
  broker.stop();  // BRIM_MQTT_PORT still names its port: nothing listens there now

  EXPECT_NE(vz_pub("a/b", "x", 1, 0), MOSQ_ERR_SUCCESS);
  EXPECT_EQ(safe_vz_pub(reinterpret_cast<intptr_t>("a/b"), reinterpret_cast<intptr_t>("x"), 1, 0), 0);  // by contract
  // The handler's connection learns of the loss on its next loop; publishing then fails.
  for (int i = 0; i < 50 && mosquitto_loop(handler.handle(), 20, 1) == MOSQ_ERR_SUCCESS; ++i) {
  }
  EXPECT_NE(websGetCfgResponse(handler.handle(), "a/b", "{}"), MOSQ_ERR_SUCCESS);
  websErrorResponse(handler.handle(), "a/b", "gone");  // drops the result; must simply return
}

TEST(BrokerFaults, PublishingToABrokerThatStoppedAnsweringGivesUp) {
  Broker broker;
  ASSERT_TRUE(broker.start());
  ASSERT_EQ(kill(broker.pid(), SIGSTOP), 0);
  struct timespec t0, t1;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  int rc = vz_pub("a/b", "x", 1, 1);
  clock_gettime(CLOCK_MONOTONIC, &t1);
  kill(broker.pid(), SIGCONT);
  EXPECT_NE(rc, MOSQ_ERR_SUCCESS);
  // Bounded, not timed: it returned at all, and well inside a minute.
  EXPECT_LT(t1.tv_sec - t0.tv_sec, 60);
}

}  // namespace
