// Layouts that cross the library boundary (records handed to drivers, read from files, kept by
// callers) and the word sizes of the build. The static assertions fail the build of the test
// program on a wrong layout, so a cross build catches what only the router's ABI shows.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Last: the header exports a global named `tm`, which hides struct tm from what follows.
#include <brimlib.h>

namespace {

// Records whose layout is ours to keep, identical on every target.
static_assert(sizeof(MD5_CTX) == 88 && offsetof(MD5_CTX, count) == 16 && offsetof(MD5_CTX, buffer) == 24);
static_assert(sizeof(DhcpLeaseRecord) == 92 && alignof(DhcpLeaseRecord) <= 4,
              "lease records are read back to back from the server's file");
static_assert(offsetof(DhcpLeaseRecord, yiaddr) == 16 && offsetof(DhcpLeaseRecord, expires) == 20 &&
              offsetof(DhcpLeaseRecord, hostname) == 24 && offsetof(DhcpLeaseRecord, hostname_len) == 80);
static_assert(sizeof(NetDevStats) == 120);
static_assert(offsetof(NetDevStats, tx_bytes) == 24 && offsetof(NetDevStats, rx_errors) == 32,
              "the four 64-bit counters lead, the 32-bit ones follow without a gap");
static_assert(offsetof(NetDevStats, tx_fifo_errors) == 116);
static_assert(sizeof(BssInfoRecord) == 44 && offsetof(BssInfoRecord, rssi) == 9,
              "the wireless driver fills 44 bytes with the signal strength at byte 9");
static_assert(sizeof(StaInfoTable) == 3120 && sizeof(SiteSurveyBuffer) == 11268);

// The Ethernet driver's argument block is four words of the target's pointer width.
static_assert(sizeof(DevPrivateArgs) == 4 * sizeof(void *));
static_assert(offsetof(DevPrivateArgs, link_state) == 3 * sizeof(void *));
static_assert(sizeof(intptr_t) == sizeof(void *) && sizeof(uintptr_t) == sizeof(void *));

// Exported globals with a stated width.
static_assert(sizeof(vzData) == 4 && sizeof(ELAN4_IF) == 4 && sizeof(last_wantype) == 4);
static_assert(sizeof(wlan_idx) == 4 && sizeof(vwlan_idx) == 4);
static_assert(sizeof(msgData) == 516 && sizeof(upgrade_time) == 44 && sizeof(mos_conf) == 40 &&
              sizeof(mac_md5) == 40 && sizeof(WLAN_IF) == 20);

// File sizes and offsets are 64-bit on every build, the 32-bit router included: stat() and
// readdir() would otherwise fail with EOVERFLOW on large files and on ext4 directories.
static_assert(sizeof(off_t) == 8);

#if defined(__mips__)
// The router: o32, 32-bit little-endian MIPS. `long` is not 64 bits there.
static_assert(sizeof(long) == 4 && sizeof(void *) == 4 && sizeof(size_t) == 4);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
static_assert(sizeof(DevPrivateArgs) == 16);
static_assert(alignof(uint64_t) == 8, "o32 aligns 64-bit counters to 8 bytes");
#endif

// The shared library as a handler module sees it: loaded by path, symbols looked up by name.
class SharedLibrary : public testing::Test {
 protected:
  void SetUp() override {
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string path(exe);
    path.erase(path.rfind('/'));  // <build>/tests
    path.erase(path.rfind('/'));  // <build>
    path += "/libbrim.so";
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override {
    if (handle_) dlclose(handle_);
  }

  // Size of the exported object `name` as the dynamic symbol table records it; 0 if missing.
  size_t object_size(const char *name, void **addr) {
    *addr = dlsym(handle_, name);
    if (!*addr) return 0;
    Dl_info info;
    void *extra = nullptr;
    if (!dladdr1(*addr, &info, &extra, RTLD_DL_SYMENT) || !extra) return 0;
    const auto *sym = static_cast<const ElfW(Sym) *>(extra);
    if (ELF32_ST_TYPE(sym->st_info) != STT_OBJECT) return 0;
    return sym->st_size;
  }

  void *handle_ = nullptr;
};

TEST_F(SharedLibrary, ExportsTheGlobalsWithTheirSizesAndStartValues) {
  struct Export {
    const char *name;
    size_t size;
    int32_t start;  // a word's start value (texts start all zero); kAny: not compared
  };
  constexpr int32_t kAny = INT32_MIN;
  std::vector<Export> exports;
  for (const char *word : {"vzData", "delay_time", "tm", "ftype", "web_mosq", "wlan_num", "vwlan_num", "mssid_idx",
                           "WAN_IF", "BRIDGE_IF", "PPPOE_IF", "ELAN_IF", "ELAN2_IF", "ELAN3_IF", "ELAN4_IF"})
    exports.push_back({word, 4, 0});
  exports.insert(exports.end(), {{"last_wantype", 4, -1},
                                 {"msgData", 516, 0},
                                 {"upgrade_time", 44, 0},
                                 {"mos_conf", 40, 0},
                                 {"mac_md5", 40, 0},
                                 {"WLAN_IF", 20, 0},
                                 {"wlan_idx", 4, kAny},
                                 {"vwlan_idx", 4, kAny},
                                 {"wps_config_info", sizeof(WpsConfigInfo), kAny},
                                 {"wps_config_info_tmp", sizeof(WpsConfigInfo), kAny},
                                 {"first_brim_hook", sizeof(void *), kAny}});
  for (const Export &e : exports) {
    void *addr = nullptr;
    EXPECT_EQ(object_size(e.name, &addr), e.size) << e.name;
    if (addr == nullptr || e.start == kAny) continue;
    if (e.size == 4) {
      EXPECT_EQ(*static_cast<int32_t *>(addr), e.start) << e.name;
    } else {
      const unsigned char *p = static_cast<const unsigned char *>(addr);
      EXPECT_EQ(std::count(p, p + e.size, 0), static_cast<std::ptrdiff_t>(e.size)) << e.name << " is not zero at start";
    }
  }
}

}  // namespace
