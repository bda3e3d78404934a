// Layouts that cross the library boundary (records handed to drivers, read from files, kept by
// callers) and the word sizes of the build. The static assertions fail the build of the test
// program on a wrong layout, so a cross build catches what only the router's ABI shows.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>
#include <cstddef>

#include "tests/unit/unit.h"

namespace {

// Records whose layout is ours to keep, identical on every target (the others are asserted where
// the library fills or reads them).
static_assert(sizeof(MD5_CTX) == 88 && offsetof(MD5_CTX, count) == 16 && offsetof(MD5_CTX, buffer) == 24);
// File sizes and offsets are 64-bit on every build, the 32-bit router included: stat() and
// readdir() would otherwise fail with EOVERFLOW on large files and on ext4 directories.
static_assert(sizeof(off_t) == 8);
#if defined(__mips__)
// The router: o32, 32-bit little-endian MIPS. `long` is not 64 bits there; o32 aligns 64-bit counters to 8 bytes.
static_assert(sizeof(long) == 4 && sizeof(void *) == 4 && sizeof(size_t) == 4 && sizeof(DevPrivateArgs) == 16);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && alignof(uint64_t) == 8);
#endif

// The shared library as a handler module sees it: loaded by path, symbols looked up by name.
class SharedLibrary : public testing::Test {
 protected:
  void SetUp() override {
    char exe[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string path(exe);
    path.erase(path.rfind('/')), path.erase(path.rfind('/'));  // <build>/tests/<program> -> <build>
    handle_ = dlopen((path + "/libbrim.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
  }
  void TearDown() override { if (handle_) dlclose(handle_); }
  // Size of the exported object `name` as the dynamic symbol table records it; 0 if missing.
  size_t object_size(const char *name, void **addr) {
    Dl_info info;
    void *extra = nullptr;
    if (!(*addr = dlsym(handle_, name)) || !dladdr1(*addr, &info, &extra, RTLD_DL_SYMENT) || !extra) return 0;
    const auto *sym = static_cast<const ElfW(Sym) *>(extra);
    return ELF32_ST_TYPE(sym->st_info) == STT_OBJECT ? sym->st_size : 0;
  }
  void *handle_ = nullptr;
};

// Exported globals with a stated width, and their start values (texts start all zero).
TEST_F(SharedLibrary, ExportsTheGlobalsWithTheirSizesAndStartValues) {
  constexpr int32_t kAny = INT32_MIN;  // start value not compared
  std::vector<std::tuple<const char *, size_t, int32_t>> exports;
  for (const char *word : {"vzData", "delay_time", "tm", "ftype", "web_mosq", "wlan_num", "vwlan_num", "mssid_idx", "WAN_IF",
                           "BRIDGE_IF", "PPPOE_IF", "ELAN_IF", "ELAN2_IF", "ELAN3_IF", "ELAN4_IF"})
    exports.emplace_back(word, 4, 0);
  exports.insert(exports.end(), {{"last_wantype", 4, -1}, {"msgData", 516, 0}, {"upgrade_time", 44, 0}, {"mos_conf", 40, 0},
                                 {"mac_md5", 40, 0}, {"WLAN_IF", 20, 0}, {"wlan_idx", 4, kAny}, {"vwlan_idx", 4, kAny},
                                 {"wps_config_info", sizeof(WpsConfigInfo), kAny}, {"wps_config_info_tmp", sizeof(WpsConfigInfo), kAny},
                                 {"first_brim_hook", sizeof(void *), kAny}});
  for (const auto &[name, size, start] : exports) {
    void *addr = nullptr;
    EXPECT_EQ(object_size(name, &addr), size) << name;
    if (addr == nullptr || start == kAny) continue;
    const unsigned char *p = static_cast<const unsigned char *>(addr);
    if (size == 4) EXPECT_EQ(*static_cast<int32_t *>(addr), start) << name;
    else EXPECT_EQ(std::count(p, p + size, 0), static_cast<std::ptrdiff_t>(size)) << name << " is not zero at start";
  }
}

}  // namespace
