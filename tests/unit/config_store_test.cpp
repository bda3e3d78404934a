// The configuration store stand-in and the library's calls on it.
#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include "brimlib/config/item_ids.h"
#include "platform/apmib/store.h"
#include "tests/unit/unit.h"

namespace {

class Store : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("APMIB_STORE", path_.c_str(), 1);
    setenv("APMIB_EXPORT", (tmp_ / "export.store").c_str(), 1);
    wlan_idx = vwlan_idx = 0;
  }
  void TearDown() override { wlan_idx = vwlan_idx = 0; }
  void write(const std::string &text) { unit::put(path_, text); }
  unit::TempDir tmp_;
  std::string path_ = tmp_ / "apmib.store";
};

int32_t get_int(int id) { int32_t v = -12345; return apmib_get(id, &v) ? v : -12345; }

TEST_F(Store, ValuesInEveryFormAndWirelessItemsFollowTheSelection) {
  EXPECT_EQ(apmib_init(), 0);  // no file yet
  write("# comment\nIP_ADDR = 192.168.0.1\nOP_MODE = 2\nHOST_NAME = \"my \\\"host\\\"\\n\"\n"
        "wlan0.WLAN_WEP64_KEY1 = 0011aaff7f\n18051 = -1\n"
        "wlan0.WLAN_ENCRYPT = 4\nwlan0-va1.WLAN_ENCRYPT = 2\nwlan1-va0.WLAN_ENCRYPT = 6\nwlan1-vxd.WLAN_ENCRYPT = 1\n");
  ASSERT_NE(apmib_init(), 0);
  uint32_t addr = 0;
  ASSERT_EQ(apmib_get(MIB_IP_ADDR, &addr), 1);
  EXPECT_EQ(addr, htonl(0xC0A80001));  // network byte order, as the router stores it
  char host[32];
  unsigned char key[5];
  ASSERT_EQ(apmib_get(MIB_HOST_NAME, host) + apmib_get(4, key), 2);
  EXPECT_STREQ(host, "my \"host\"\n");
  EXPECT_EQ(std::memcmp(key, "\x00\x11\xaa\xff\x7f", 5), 0);
  // Items the file does not name read as zero; unknown ids cannot be read.
  for (auto [id, v] : {std::pair<int, int>{MIB_OP_MODE, 2}, {MIB_TELNET_ENABLED, -1}, {MIB_WAN_LINK_MARK, 0}, {99999, -12345}})
    EXPECT_EQ(get_int(id), v) << id;
  // Radio/slot -> value; out of range: nothing to read, nothing written.
  for (auto [r, s, v] : {std::tuple{0, 0, 4}, {0, 2, 2}, {1, 1, 6}, {1, 5, 1}, {1, 0, 0}, {2, 0, -12345}, {0, 6, -12345}}) {
    wlan_idx = r, vwlan_idx = s;
    EXPECT_EQ(get_int(MIB_WLAN_ENCRYPT), v) << r << "/" << s;
  }
  int32_t v = 9;
  EXPECT_EQ(apmib_set(MIB_WLAN_ENCRYPT, &v), 0);
}

TEST_F(Store, UpdateCommitsAtomicallyAndRoundTripsAndWebExportsOnlyForKindFourAfterACommit) {
  write("OP_MODE = 0\n");
  ASSERT_NE(apmib_init(), 0);
  const char hostile[] = "a\"b\\c\nd\te\x01'$(x)`y`";
  char pw[128], back[128] = {};
  std::strcpy(pw, hostile);
  int32_t mode = 2;
  apmib_set(MIB_SUPER_PASSWORD, pw);
  apmib_set(MIB_OP_MODE, &mode);
  const std::string exported = tmp_ / "export.store";
  EXPECT_NE(apmib_update_web(1), 0);
  EXPECT_NE(access(exported.c_str(), F_OK), 0);
  ASSERT_NE(apmib_update(1), 0);
  EXPECT_EQ(tmp_.entries(), 1) << "a temporary file was left behind";
  mode = 0;  // a fresh load sees exactly what was committed
  apmib_set(MIB_OP_MODE, &mode);
  ASSERT_NE(apmib_init(), 0);
  EXPECT_EQ(get_int(MIB_OP_MODE), 2);
  ASSERT_EQ(apmib_get(MIB_SUPER_PASSWORD, back), 1);
  EXPECT_STREQ(back, hostile);
  setenv("APMIB_STORE", (tmp_ / "missing-dir/apmib.store").c_str(), 1);
  EXPECT_EQ(apmib_update(1), 0);
  EXPECT_EQ(apmib_update_web(4), 0);
  EXPECT_NE(access(exported.c_str(), F_OK), 0) << "exported after a failed commit";
  setenv("APMIB_STORE", path_.c_str(), 1);
  EXPECT_NE(apmib_update_web(4 | 2), 0);
  EXPECT_NE(unit::slurp(exported).find("OP_MODE = 2"), std::string::npos);
}

// Runs `count` steps in a child process, one at a time, each when the parent says so.
class Stepper {
 public:
  template <class F> Stepper(int count, F step) {
    if (pipe(go_) != 0 || pipe(done_) != 0) std::abort();
    if ((pid_ = fork()) != 0) return;
    char c;
    for (int i = 0; i < count; ++i) {
      if (read(go_[0], &c, 1) != 1) _exit(2);
      step(i);
      if (write(done_[1], &c, 1) != 1) _exit(2);
    }
    _exit(0);
  }
  ~Stepper() { for (int fd : {go_[0], go_[1], done_[0], done_[1]}) close(fd); }
  void next() { char c = 's'; ASSERT_EQ(write(go_[1], &c, 1), 1); ASSERT_EQ(read(done_[0], &c, 1), 1); }
  int finish() { int status = -1; waitpid(pid_, &status, 0); return status; }

 private:
  int go_[2], done_[2];
  pid_t pid_ = -1;
};

// Two processes load, set an item each and commit, in every order their steps can interleave: a
// commit never undoes the other's change, whether it was committed before this process loaded,
// between its load and its commit, or not yet.
TEST_F(Store, CommitsOfTwoProcessesInEveryInterleavingKeepBothChanges) {
  auto steps = [](int id, int32_t value) {
    return [id, value](int i) {
      int32_t v = value;
      if (i == 0 && !apmib_init()) _exit(3);
      if (i == 1) apmib_set(id, &v);
      if (i == 2 && !apmib_update(1)) _exit(4);
    };
  };
  for (int order = 0; order < 64; ++order) {
    if (__builtin_popcount(order) != 3) continue;  // 3 steps each: 20 interleavings
    write("OP_MODE = 0\nTELNET_ENABLED = 0\n");
    Stepper a(3, steps(MIB_OP_MODE, 2)), b(3, steps(MIB_TELNET_ENABLED, 1));
    for (int bit = 0; bit < 6; ++bit) (order >> bit & 1 ? a : b).next();
    ASSERT_EQ(a.finish() | b.finish(), 0);
    ASSERT_NE(apmib_init(), 0);
    EXPECT_EQ(get_int(MIB_OP_MODE) * 10 + get_int(MIB_TELNET_ENABLED), 21) << "order " << order;
  }
}

}  // namespace
