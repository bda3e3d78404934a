// Cal_file_md5 with the real md5sum and shell of the simulated router.
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
using brim_test::write_file;

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

std::string file_md5(const std::string &path) {
  char out[34];
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(Cal_file_md5(path.c_str(), out), 0);
  EXPECT_NE(std::memchr(out, '\0', sizeof out), nullptr);
  return out;
}

using FileMd5 = brim_test::SandboxTest;

TEST_F(FileMd5, DigestOfAFileInLowerCase) {
  std::string data(70000, 'x');
  data += "tail";
  ASSERT_TRUE(write_file("/tmp/plain.bin", data));
  EXPECT_EQ(file_md5("/tmp/plain.bin"), md5_hex(data));
  EXPECT_TRUE(exists("/tmp/md5_sum"));
  ASSERT_TRUE(write_file("/tmp/empty.bin", ""));
  EXPECT_EQ(file_md5("/tmp/empty.bin"), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST_F(FileMd5, MissingFileGivesEmptyText) {
  testing::internal::CaptureStderr();  // md5sum's complaint
  EXPECT_EQ(file_md5("/tmp/no such file"), "");
  testing::internal::GetCapturedStderr();
}

TEST_F(FileMd5, PathIsOneShellWordAndRunsNothing) {
  // The canaries would appear in the working directory of the shell, which is ours.
  ASSERT_EQ(mkdir("/tmp/odd dir", 0755), 0);
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir("/tmp/odd dir"), 0);
  const std::string path = "/tmp/odd dir/a b;touch canary1 $(touch canary2) `touch canary3` 'q'\"&|<>*.bin";
  ASSERT_TRUE(write_file(path, "payload"));
  EXPECT_EQ(file_md5(path), md5_hex("payload"));
  EXPECT_EQ(chdir(cwd), 0);
  EXPECT_FALSE(exists("/tmp/odd dir/canary1"));
  EXPECT_FALSE(exists("/tmp/odd dir/canary2"));
  EXPECT_FALSE(exists("/tmp/odd dir/canary3"));
  // A name md5sum prints with an escape in front of the digest.
  const std::string escaped = "/tmp/odd dir/back\\slash\nline";
  ASSERT_TRUE(write_file(escaped, "other"));
  EXPECT_EQ(file_md5(escaped), md5_hex("other"));
}

TEST_F(FileMd5, LongPaths) {
  std::string dir = "/tmp/" + std::string(100, 'd');
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  std::string path = dir + "/" + std::string(214 - dir.size() - 1, 'f');
  ASSERT_EQ(path.size(), 214u);
  ASSERT_TRUE(write_file(path, "long"));
  EXPECT_EQ(file_md5(path), md5_hex("long"));
  // One more character is refused rather than cut into another name.
  std::string longer = path + "g";
  ASSERT_TRUE(write_file(longer, "longer"));
  EXPECT_EQ(file_md5(longer), "");
}

}  // namespace
