// MD5 over caller-owned contexts; the context layout is checked in layout_test.cpp.

#include "tests/unit/unit.h"

namespace {

std::string hex(const unsigned char d[16]) { char out[33]; for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]); return out; }

// Feeds `len` bytes at `data` in pieces of `piece` bytes (0: all at once).
std::string md5_of(const void *data, size_t len, size_t piece = 0) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  const char *p = static_cast<const char *>(data);
  if (piece == 0) piece = std::max<size_t>(len, 1);
  for (size_t i = 0; i < len; i += piece) MD5Update(&ctx, p + i, static_cast<uint32_t>(std::min(piece, len - i)));
  unsigned char d[16];
  MD5Final(d, &ctx);
  return hex(d);
}
std::string md5_of(const std::string &msg, size_t piece = 0) { return md5_of(msg.data(), msg.size(), piece); }

TEST(Md5, Rfc1321SuiteAndPaddingAroundTheBlockEdge) {
  const std::pair<std::string, const char *> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"}, {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // 55 bytes pad within their block; 56..63 need a second one; 64 a whole extra block.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"}, {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"}, {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
  };
  for (const auto &[msg, digest] : cases) EXPECT_EQ(md5_of(msg), digest) << msg.size() << " bytes: " << msg;
}

TEST(Md5, PiecesUnalignedInputAndBitCountCarry) {
  std::vector<unsigned char> raw(4096 + 1);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<unsigned char>(i ^ (i >> 8));
  const std::string whole = md5_of(raw.data() + 1, 4096);  // reads from an odd address
  EXPECT_EQ(whole, "869dc93e029a2970d88cb5420e1d58f4");    // as md5sum(1) gives it
  for (size_t piece : {1, 3, 55, 56, 63, 64, 65, 128, 999})
    EXPECT_EQ(md5_of(raw.data() + 1, 4096, piece), whole) << "pieces of " << piece;

  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, nullptr, 0);  // zero-length updates change nothing
  MD5Update(&ctx, "abc", 3);
  MD5Update(&ctx, "", 0);
  unsigned char d[16];
  MD5Final(d, &ctx);
  EXPECT_EQ(hex(d), "900150983cd24fb0d6963f7d28e17f72");
  MD5_CTX zero{};
  EXPECT_EQ(std::memcmp(&ctx, &zero, sizeof ctx), 0) << "MD5Final did not wipe the context";

  // A count near 2^32 bits carries into the high word.
  MD5Init(&ctx);
  ctx.count[0] = 0xFFFFFFF8u;
  MD5Update(&ctx, "ab", 2);
  EXPECT_EQ(ctx.count[0] * 10 + ctx.count[1], 81u);
}

}  // namespace
