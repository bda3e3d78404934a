// setFWMd5 in the simulated router: fixture flash partitions behind /dev/mtdblock0 and
// /dev/mtdblock1 (symbolic links into /tmp, since the sandbox's /dev is a small tmpfs), the
// leading part in its private /etc, the real md5sum, and the record checked against a digest of
// an image the test assembles itself.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "brimlib.h"
#include "tests/support/sandbox_env.h"

namespace {

using brim_test::exists;
using brim_test::read_file;
using brim_test::write_file;

constexpr size_t kLeading = 0xC000;
constexpr size_t kKernelAt = 0x30000;
constexpr size_t kRootLen = 0x208002;
const std::string kRootHeader("r6cr\x00\x2D\x00\x00\x00\x26\x00\x00\x00\x20\x80\x02", 16);

std::string pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
  return s;
}

std::string md5_hex(const std::string &data) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, data.data(), static_cast<uint32_t>(data.size()));
  unsigned char d[16];
  MD5Final(d, &ctx);
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

class FirmwareDigest : public brim_test::SandboxTest {
 protected:
  void SetUp() override {
    brim_test::SandboxTest::SetUp();
    if (IsSkipped()) return;
    mkdir("/tmp/flash", 0755);
    for (const char *dev : {"/dev/mtdblock0", "/dev/mtdblock1"}) {
      unlink(dev);
      std::string target = std::string("/tmp/flash/") + (dev + 5);
      ASSERT_EQ(symlink(target.c_str(), dev), 0) << dev;
    }
    for (const char *f : {"/tmp/flash/mtdblock0", "/tmp/flash/mtdblock1", "/etc/nohw.dat", "/mnt/SysCurVerMd5",
                          "/tmp/tmpFw"})
      unlink(f);
  }

  // The first partition: filler up to the image, its 16-byte header with length `len` in bytes
  // 12-15, and `have` bytes after the header.
  std::string kernel_partition(uint32_t len, size_t have) {
    std::string p = pattern(kKernelAt, 1);
    std::string header = pattern(12, 2);
    header += static_cast<char>(len >> 24);
    header += static_cast<char>(len >> 16);
    header += static_cast<char>(len >> 8);
    header += static_cast<char>(len);
    p += header;
    p += pattern(have, 3);
    return p;
  }

  void install(const std::string &nohw, const std::string &mtd0, const std::string &mtd1) {
    ASSERT_TRUE(write_file("/etc/nohw.dat", nohw));
    ASSERT_TRUE(write_file("/tmp/flash/mtdblock0", mtd0));
    ASSERT_TRUE(write_file("/tmp/flash/mtdblock1", mtd1));
  }

  // The firmware image as the record must describe it.
  static std::string image(const std::string &nohw, const std::string &mtd0, uint32_t len, const std::string &mtd1) {
    return nohw.substr(0, kLeading) + mtd0.substr(kKernelAt, 16 + size_t{len}) + kRootHeader + mtd1.substr(0, kRootLen);
  }

  static int run(std::string *trace = nullptr) {
    testing::internal::CaptureStdout();
    int r = setFWMd5();
    std::string out = testing::internal::GetCapturedStdout();
    if (trace) *trace = out;
    return r;
  }
};

TEST_F(FirmwareDigest, CurrentRecordIsLeftAlone) {
  const std::string digits = "0123456789abcdef0123456789abcdef";
  ASSERT_TRUE(write_file("/mnt/SysCurVerMd5", digits + "\n"));
  std::string trace;
  EXPECT_EQ(run(&trace), 32);  // no flash at all: it is not looked at
  EXPECT_EQ(trace, "ROOTFS_OFFSET_T=208002 SysCurVerMd5=" + digits + "\n");
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), digits + "\n");
  EXPECT_FALSE(exists("/tmp/tmpFw"));
}

TEST_F(FirmwareDigest, RecordsTheDigestOfTheAssembledImage) {
  const uint32_t len = 5000;
  std::string nohw = pattern(kLeading + 777, 9);  // only its first 48 KiB count
  std::string mtd0 = kernel_partition(len, len + 4096);
  std::string mtd1 = pattern(kRootLen + 333, 7);
  install(nohw, mtd0, mtd1);
  std::string trace;
  EXPECT_EQ(run(&trace), 0);
  EXPECT_EQ(trace, "ROOTFS_OFFSET_T=208002 SysCurVerMd5=\n");
  std::string img = image(nohw, mtd0, len, mtd1);
  ASSERT_EQ(img.size(), 2179106u + len);
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), md5_hex(img) + "\n");
  EXPECT_FALSE(exists("/tmp/tmpFw"));
  // Now current: the next call only reports it.
  EXPECT_EQ(run(&trace), 32);
  EXPECT_EQ(trace, "ROOTFS_OFFSET_T=208002 SysCurVerMd5=" + md5_hex(img) + "\n");
}

TEST_F(FirmwareDigest, LengthOfOneMebibyteFromTheHeader) {
  const uint32_t len = 0x00100000;  // header bytes 00 10 00 00
  std::string nohw = pattern(kLeading, 4);
  std::string mtd0 = kernel_partition(len, len);
  std::string mtd1 = pattern(kRootLen, 5);
  install(nohw, mtd0, mtd1);
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), md5_hex(image(nohw, mtd0, len, mtd1)) + "\n");
}

TEST_F(FirmwareDigest, LeftoverTemporaryImageDoesNotStandInFront) {
  const uint32_t len = 64;
  std::string nohw = pattern(kLeading, 6), mtd0 = kernel_partition(len, len), mtd1 = pattern(kRootLen, 8);
  install(nohw, mtd0, mtd1);
  ASSERT_TRUE(write_file("/tmp/tmpFw", "half an image from an interrupted run"));
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), md5_hex(image(nohw, mtd0, len, mtd1)) + "\n");
}

TEST_F(FirmwareDigest, RecordThatIsNotOneDigestIsRedone) {
  const uint32_t len = 16;
  std::string nohw = pattern(kLeading, 1), mtd0 = kernel_partition(len, len), mtd1 = pattern(kRootLen, 2);
  install(nohw, mtd0, mtd1);
  const std::string want = md5_hex(image(nohw, mtd0, len, mtd1)) + "\n";
  for (const std::string &bad : {std::string("0123456789abcdef0123456789abcde\n"),
                                  std::string(""),
                                  std::string("0123456789abcdef0123456789abcdef\nextra"),
                                  std::string(100000, 'f')}) {  // far longer than any record buffer
    ASSERT_TRUE(write_file("/mnt/SysCurVerMd5", bad));
    EXPECT_EQ(run(), 0) << bad.size();
    EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), want) << bad.size();
  }
}

TEST_F(FirmwareDigest, StopsEarlyWithoutTouchingTheRecord) {
  const std::string old = "stale";
  const uint32_t len = 4096;
  std::string nohw = pattern(kLeading, 1), mtd1 = pattern(kRootLen, 2);

  // Length pointing past the end of the partition: the short count, image removed.
  install(nohw, kernel_partition(len, 1000), mtd1);
  ASSERT_TRUE(write_file("/mnt/SysCurVerMd5", old));
  EXPECT_EQ(run(), 16 + 1000);
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), old);
  EXPECT_FALSE(exists("/tmp/tmpFw"));

  // A leading part under 48 KiB, and none at all.
  install(pattern(1000, 1), kernel_partition(len, len), mtd1);
  EXPECT_EQ(run(), 1000);
  unlink("/etc/nohw.dat");
  EXPECT_EQ(run(), -1);
  EXPECT_FALSE(exists("/tmp/tmpFw"));

  // A root file system part that is too short, and a missing second partition.
  install(nohw, kernel_partition(len, len), pattern(100, 3));
  EXPECT_EQ(run(), 100);
  unlink("/tmp/flash/mtdblock1");
  EXPECT_EQ(run(), -1);
  EXPECT_FALSE(exists("/tmp/tmpFw"));
  EXPECT_EQ(read_file("/mnt/SysCurVerMd5"), old);
}

TEST_F(FirmwareDigest, UnreadableHeaderGives16) {
  ASSERT_TRUE(write_file("/etc/nohw.dat", pattern(kLeading, 1)));
  EXPECT_EQ(run(), 16);  // no first partition
  ASSERT_TRUE(write_file("/tmp/flash/mtdblock0", pattern(kKernelAt + 10, 1)));
  EXPECT_EQ(run(), 16);  // header cut short
  EXPECT_FALSE(exists("/mnt/SysCurVerMd5"));
  EXPECT_FALSE(exists("/tmp/tmpFw"));
}

TEST_F(FirmwareDigest, LengthThatWrapsIsRefused) {
  // L + 16 wraps to 0 in 32 bits; it must not be taken as an empty piece copied whole.
  std::string nohw = pattern(kLeading, 1), mtd1 = pattern(kRootLen, 2);
  install(nohw, kernel_partition(0xFFFFFFF0u, 64), mtd1);
  EXPECT_EQ(run(), -1);
  EXPECT_FALSE(exists("/mnt/SysCurVerMd5"));
  EXPECT_FALSE(exists("/tmp/tmpFw"));
}

}  // namespace
