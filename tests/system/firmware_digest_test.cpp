// Digests in the simulated router, with its real md5sum and shell: Cal_file_md5 of files, and
// setFWMd5 over fixture flash partitions behind /dev/mtdblock0 and /dev/mtdblock1 (links into
// /var: the sandbox's /dev is a small tmpfs) and the leading part in its private /etc, the record
// checked against the digest of an image the test assembles itself.
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstring>
#include <optional>
#include <tuple>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;
using Part = std::optional<std::string>;  // a file's content, or no file

void put(const std::string &path, const Part &content) {
  unlink(path.c_str());
  if (content) ASSERT_TRUE(write_file(path, *content)) << path;
}

// Hostile paths are in injection_test.
TEST(FileMd5, DigestsInLowerCaseOrEmptyText) {
  BRIM_REQUIRE_SANDBOX();
  const std::string dir = "/tmp/" + std::string(100, 'd');  // for paths of 214 characters and one more
  mkdir(dir.c_str(), 0755);
  const std::string longest = dir + "/" + std::string(214 - dir.size() - 1, 'f');
  for (const auto &[path, content, digest] : {std::tuple<std::string, Part, std::string>{"/tmp/plain.bin",
                                                                                          std::string(70000, 'x') + "tail",
                                                                                          "33c7de7bee77e10a0b240bfd6a9aed89"},
                                              {"/tmp/no such file", std::nullopt, ""},
                                              {longest, std::string("abc"), "900150983cd24fb0d6963f7d28e17f72"},
                                              {longest + "g", std::string("abc"), ""},  // refused, not cut to another name
                                              {"/tmp/back\\slash\nline", std::string(), md5_hex("")}}) {  // md5sum escapes it
    put(path, content);
    char out[34];
    std::memset(out, '#', sizeof out);
    testing::internal::CaptureStderr();  // md5sum's complaint about a missing file
    // No buffer, or no path: nothing to do, 0 all the same.
    EXPECT_EQ(Cal_file_md5(nullptr, out) + Cal_file_md5(path.c_str(), nullptr) + Cal_file_md5(path.c_str(), out), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string(out, strnlen(out, sizeof out)), digest) << path;
  }
}

constexpr size_t kLeading = 0xC000, kKernelAt = 0x30000, kRootLen = 0x208002;
const std::string kRootHeader("r6cr\x00\x2D\x00\x00\x00\x26\x00\x00\x00\x20\x80\x02", 16);

std::string pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return s;
}

// The first partition: filler up to the image, its 16-byte header with length `len`
// (big-endian) in bytes 12-15, and `have` bytes after the header.
std::string kernel_partition(uint32_t len, size_t have) {
  std::string p = pattern(kKernelAt, 1) + pattern(12, 2);
  for (int shift = 24; shift >= 0; shift -= 8) p += static_cast<char>(len >> shift);
  return p + pattern(have, 3);
}

// The firmware image as the record must describe it.
std::string image(const std::string &nohw, const std::string &mtd0, uint32_t len, const std::string &mtd1) {
  return nohw.substr(0, kLeading) + mtd0.substr(kKernelAt, 16 + size_t{len}) + kRootHeader + mtd1.substr(0, kRootLen);
}

class FirmwareDigest : public SandboxTest {
 protected:
  void prepare() override {
    mkdir("/var/brim_flash", 0755);  // not under /tmp, which one test makes too small
    for (const char *dev : {"mtdblock0", "mtdblock1"}) {
      unlink((std::string("/dev/") + dev).c_str());
      ASSERT_EQ(symlink((std::string("/var/brim_flash/") + dev).c_str(), (std::string("/dev/") + dev).c_str()), 0);
    }
    for (const char *f : {"/etc/nohw.dat", "/mnt/SysCurVerMd5", "/tmp/tmpFw"}) unlink(f);
  }
  static void install(const Part &nohw, const Part &mtd0, const Part &mtd1) {
    put("/etc/nohw.dat", nohw);
    put("/var/brim_flash/mtdblock0", mtd0);
    put("/var/brim_flash/mtdblock1", mtd1);
  }
  static int run(std::string *trace = nullptr) {
    testing::internal::CaptureStdout();
    int r = setFWMd5();
    std::string out = testing::internal::GetCapturedStdout();
    if (trace) *trace = out;
    return r;
  }
};

TEST_F(FirmwareDigest, RecordsTheDigestOfTheAssembledImageUnlessCurrent) {
  const std::string digits = "0123456789abcdef0123456789abcdef";
  ASSERT_TRUE(write_file("/mnt/SysCurVerMd5", digits + "\n"));
  std::string trace;
  EXPECT_EQ(run(&trace), 32);  // current, and no flash at all: it is not looked at
  EXPECT_EQ(trace, "ROOTFS_OFFSET_T=208002 SysCurVerMd5=" + digits + "\n");
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), digits + "\n");
  const struct {
    uint32_t len;
    size_t spare;  // bytes beyond what each piece needs, which must not count
    Part record;   // what stood in the record before
  } rows[] = {
      {5000, 777, std::nullopt},
      {0x00100000, 0, std::string("0123456789abcdef0123456789abcde\n")},  // header bytes 00 10 00 00
      {64, 1, std::string(100000, 'f')},  // far longer than any record buffer
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.len);
    std::string nohw = pattern(kLeading + row.spare, row.len), mtd0 = kernel_partition(row.len, row.len + row.spare),
                mtd1 = pattern(kRootLen + row.spare, 7);
    install(nohw, mtd0, mtd1);
    put("/mnt/SysCurVerMd5", row.record);
    // A leftover of an interrupted run must not stand in front of the image.
    ASSERT_TRUE(write_file("/tmp/tmpFw", "half an image from an interrupted run"));
    EXPECT_EQ(run(&trace), 0);
    if (!row.record) EXPECT_EQ(trace, "ROOTFS_OFFSET_T=208002 SysCurVerMd5=\n");
    const std::string digest = md5_hex(image(nohw, mtd0, row.len, mtd1));
    EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), digest + "\n");
    EXPECT_FALSE(exists("/tmp/tmpFw"));
    EXPECT_EQ(run(&trace), 32);  // now current: the next call only reports it
    EXPECT_EQ(trace, "ROOTFS_OFFSET_T=208002 SysCurVerMd5=" + digest + "\n");
  }
}

// Each early stop leaves the record as it was and no temporary image behind.
TEST_F(FirmwareDigest, StopsEarlyWithoutTouchingTheRecord) {
  const std::string nohw = pattern(kLeading, 1), mtd0 = kernel_partition(4096, 4096), mtd1 = pattern(kRootLen, 2);
  const struct {
    const char *what;
    Part nohw, mtd0, mtd1;
    int result;
    bool small_tmp = false;
  } rows[] = {
      {"length past the end of the partition: the short count", nohw, kernel_partition(4096, 1000), mtd1, 16 + 1000},
      {"leading part under 48 KiB", pattern(1000, 1), mtd0, mtd1, 1000},
      {"no leading part", std::nullopt, mtd0, mtd1, -1},
      {"root file system part too short", nohw, mtd0, pattern(100, 3), 100},
      {"no second partition", nohw, mtd0, std::nullopt, -1},
      {"header cut short", nohw, pattern(kKernelAt + 10, 1), mtd1, 16},
      {"length that wraps", nohw, kernel_partition(0xFFFFFFF0u, 64), mtd1, -1},  // L + 16 wraps to 0
      {"no room in /tmp for the image of over 2 MiB", nohw, mtd0, mtd1, -1, true},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    install(row.nohw, row.mtd0, row.mtd1);
    ASSERT_TRUE(write_file("/mnt/SysCurVerMd5", "stale"));
    if (row.small_tmp) ASSERT_EQ(mount("brim-small", "/tmp", "tmpfs", 0, "size=1048576,mode=1777"), 0);
    EXPECT_EQ(run(), row.result);
    EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), "stale");
    EXPECT_FALSE(exists("/tmp/tmpFw"));
    if (row.small_tmp) ASSERT_EQ(umount2("/tmp", MNT_DETACH), 0);
  }
  EXPECT_EQ(run(), 0);  // with room again, the right digest
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), md5_hex(image(nohw, mtd0, 4096, mtd1)) + "\n");
}

}  // namespace
