#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"

namespace {

std::string hex(const unsigned char d[16]) {
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

// Feeds the message in pieces of `piece` bytes (0: all at once).
std::string md5_of(const std::string &msg, size_t piece = 0) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  if (piece == 0) {
    MD5Update(&ctx, msg.data(), static_cast<uint32_t>(msg.size()));
  } else {
    for (size_t i = 0; i < msg.size(); i += piece)
      MD5Update(&ctx, msg.data() + i, static_cast<uint32_t>(std::min(piece, msg.size() - i)));
  }
  unsigned char d[16];
  MD5Final(d, &ctx);
  return hex(d);
}

TEST(Md5, ContextLayout) {
  EXPECT_EQ(sizeof(MD5_CTX), 88u);
  EXPECT_EQ(offsetof(MD5_CTX, count), 16u);
  EXPECT_EQ(offsetof(MD5_CTX, buffer), 24u);
}

TEST(Md5, Rfc1321TestSuite) {
  EXPECT_EQ(md5_of(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_of("a"), "0cc175b9c0f1b6a831c399e269772661");
  EXPECT_EQ(md5_of("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_of("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(md5_of("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
  EXPECT_EQ(md5_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
            "d174ab98d277d9f5a5611c2c9f419d9f");
  EXPECT_EQ(md5_of("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecesGiveTheSameDigest) {
  std::string msg;
  for (int i = 0; i < 1000; ++i) msg.push_back(static_cast<char>(i * 7 + 3));
  const std::string whole = md5_of(msg);
  for (size_t piece : {1, 3, 55, 56, 63, 64, 65, 128, 999})
    EXPECT_EQ(md5_of(msg, piece), whole) << "pieces of " << piece;
  // Zero-length updates change nothing.
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, nullptr, 0);
  MD5Update(&ctx, "abc", 3);
  MD5Update(&ctx, "", 0);
  unsigned char d[16];
  MD5Final(d, &ctx);
  EXPECT_EQ(hex(d), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, PaddingAroundTheBlockEdge) {
  // 55 bytes pad within their block; 56..63 need a second one; 64 a whole extra block.
  const char *expect[] = {
      "ef1772b6dff9a122358552954ad0df65",  // 55 x 'a'
      "3b0c8ac703f828b04c6c197006d17218",  // 56
      "652b906d60af96844ebd21b674f35e93",  // 57
      "b06521f39153d618550606be297466d5",  // 63
      "014842d480b571495a4a0363793f7367",  // 64
  };
  const size_t lens[] = {55, 56, 57, 63, 64};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(md5_of(std::string(lens[i], 'a')), expect[i]) << lens[i];
}

TEST(Md5, FinalWipesTheContext) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, "secret material", 15);
  unsigned char d[16];
  MD5Final(d, &ctx);
  MD5_CTX zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0);
}

TEST(Md5, UnalignedInputAndBitCountCarry) {
  std::vector<unsigned char> raw(4096 + 1);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<unsigned char>(i ^ (i >> 8));
  std::string msg(reinterpret_cast<char *>(raw.data()) + 1, 4096);
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, raw.data() + 1, 4096);  // reads from an odd address
  unsigned char d[16];
  MD5Final(d, &ctx);
  EXPECT_EQ(hex(d), md5_of(msg, 64));

  // A count near 2^32 bits carries into the high word.
  MD5Init(&ctx);
  ctx.count[0] = 0xFFFFFFF8u;
  MD5Update(&ctx, "ab", 2);
  EXPECT_EQ(ctx.count[0], 8u);
  EXPECT_EQ(ctx.count[1], 1u);
}

TEST(Md5, AgreesWithMd5sumOnARealFile) {
  char path[] = "/tmp/brim_md5_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string data;
  for (int i = 0; i < 300000; ++i) data.push_back(static_cast<char>((i * 131) >> 3));
  ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  close(fd);
  FILE *p = popen((std::string("md5sum ") + path).c_str(), "r");
  ASSERT_NE(p, nullptr);
  char tool[64] = {};
  ASSERT_NE(fgets(tool, sizeof tool, p), nullptr);
  pclose(p);
  unlink(path);
  EXPECT_EQ(md5_of(data, 16384), std::string(tool, 32));
}

}  // namespace
