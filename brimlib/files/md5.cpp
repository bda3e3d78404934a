// MD5 message digest (RFC 1321) over a caller-owned context: init, update in pieces, final.
#include <bit>
#include <cstdint>
#include <cstring>

#include "brimlib.h"

static_assert(sizeof(MD5_CTX) == 88, "MD5_CTX is part of the binary interface");

namespace {

// Wipes memory that holds message material; the barrier keeps the compiler from dropping the
// stores as dead.
void wipe(void *p, size_t n) {
  std::memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

inline uint32_t load_le32(const unsigned char *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

inline void store_le32(unsigned char *p, uint32_t v) {
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  std::memcpy(p, &v, 4);
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }  // (x&y)|(~x&z)
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t)>
inline void step(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
  // The message word and constant go in first: they do not wait for b, the previous step's result.
  a += x + t;
  a += Fn(b, c, d);
  a = std::rotl(a, s) + b;
}

// Round 2 as a sum of two disjoint parts, so that only one AND waits for b.
inline void step_g(uint32_t &a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
  a += x + t;
  a += c & ~d;
  a += b & d;
  a = std::rotl(a, s) + b;
}

void transform(uint32_t state[4], const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  // Round 1
  step<F>(a, b, c, d, x[0], 7, 0xd76aa478);
  step<F>(d, a, b, c, x[1], 12, 0xe8c7b756);
  step<F>(c, d, a, b, x[2], 17, 0x242070db);
  step<F>(b, c, d, a, x[3], 22, 0xc1bdceee);
  step<F>(a, b, c, d, x[4], 7, 0xf57c0faf);
  step<F>(d, a, b, c, x[5], 12, 0x4787c62a);
  step<F>(c, d, a, b, x[6], 17, 0xa8304613);
  step<F>(b, c, d, a, x[7], 22, 0xfd469501);
  step<F>(a, b, c, d, x[8], 7, 0x698098d8);
  step<F>(d, a, b, c, x[9], 12, 0x8b44f7af);
  step<F>(c, d, a, b, x[10], 17, 0xffff5bb1);
  step<F>(b, c, d, a, x[11], 22, 0x895cd7be);
  step<F>(a, b, c, d, x[12], 7, 0x6b901122);
  step<F>(d, a, b, c, x[13], 12, 0xfd987193);
  step<F>(c, d, a, b, x[14], 17, 0xa679438e);
  step<F>(b, c, d, a, x[15], 22, 0x49b40821);
  // Round 2
  step_g(a, b, c, d, x[1], 5, 0xf61e2562);
  step_g(d, a, b, c, x[6], 9, 0xc040b340);
  step_g(c, d, a, b, x[11], 14, 0x265e5a51);
  step_g(b, c, d, a, x[0], 20, 0xe9b6c7aa);
  step_g(a, b, c, d, x[5], 5, 0xd62f105d);
  step_g(d, a, b, c, x[10], 9, 0x02441453);
  step_g(c, d, a, b, x[15], 14, 0xd8a1e681);
  step_g(b, c, d, a, x[4], 20, 0xe7d3fbc8);
  step_g(a, b, c, d, x[9], 5, 0x21e1cde6);
  step_g(d, a, b, c, x[14], 9, 0xc33707d6);
  step_g(c, d, a, b, x[3], 14, 0xf4d50d87);
  step_g(b, c, d, a, x[8], 20, 0x455a14ed);
  step_g(a, b, c, d, x[13], 5, 0xa9e3e905);
  step_g(d, a, b, c, x[2], 9, 0xfcefa3f8);
  step_g(c, d, a, b, x[7], 14, 0x676f02d9);
  step_g(b, c, d, a, x[12], 20, 0x8d2a4c8a);
  // Round 3
  step<H>(a, b, c, d, x[5], 4, 0xfffa3942);
  step<H>(d, a, b, c, x[8], 11, 0x8771f681);
  step<H>(c, d, a, b, x[11], 16, 0x6d9d6122);
  step<H>(b, c, d, a, x[14], 23, 0xfde5380c);
  step<H>(a, b, c, d, x[1], 4, 0xa4beea44);
  step<H>(d, a, b, c, x[4], 11, 0x4bdecfa9);
  step<H>(c, d, a, b, x[7], 16, 0xf6bb4b60);
  step<H>(b, c, d, a, x[10], 23, 0xbebfbc70);
  step<H>(a, b, c, d, x[13], 4, 0x289b7ec6);
  step<H>(d, a, b, c, x[0], 11, 0xeaa127fa);
  step<H>(c, d, a, b, x[3], 16, 0xd4ef3085);
  step<H>(b, c, d, a, x[6], 23, 0x04881d05);
  step<H>(a, b, c, d, x[9], 4, 0xd9d4d039);
  step<H>(d, a, b, c, x[12], 11, 0xe6db99e5);
  step<H>(c, d, a, b, x[15], 16, 0x1fa27cf8);
  step<H>(b, c, d, a, x[2], 23, 0xc4ac5665);
  // Round 4
  step<I>(a, b, c, d, x[0], 6, 0xf4292244);
  step<I>(d, a, b, c, x[7], 10, 0x432aff97);
  step<I>(c, d, a, b, x[14], 15, 0xab9423a7);
  step<I>(b, c, d, a, x[5], 21, 0xfc93a039);
  step<I>(a, b, c, d, x[12], 6, 0x655b59c3);
  step<I>(d, a, b, c, x[3], 10, 0x8f0ccc92);
  step<I>(c, d, a, b, x[10], 15, 0xffeff47d);
  step<I>(b, c, d, a, x[1], 21, 0x85845dd1);
  step<I>(a, b, c, d, x[8], 6, 0x6fa87e4f);
  step<I>(d, a, b, c, x[15], 10, 0xfe2ce6e0);
  step<I>(c, d, a, b, x[6], 15, 0xa3014314);
  step<I>(b, c, d, a, x[13], 21, 0x4e0811a1);
  step<I>(a, b, c, d, x[4], 6, 0xf7537e82);
  step<I>(d, a, b, c, x[11], 10, 0xbd3af235);
  step<I>(c, d, a, b, x[2], 15, 0x2ad7d2bb);
  step<I>(b, c, d, a, x[9], 21, 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  wipe(x, sizeof x);
}

constexpr unsigned char kPadding[64] = {0x80};

}  // namespace

extern "C" {

void MD5Init(MD5_CTX *ctx) {
  ctx->count[0] = ctx->count[1] = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
}

void MD5Update(MD5_CTX *ctx, const void *data, uint32_t len) {
  const unsigned char *input = static_cast<const unsigned char *>(data);
  uint32_t index = (ctx->count[0] >> 3) & 0x3F;
  // The bit count is 64 bits wide, modulo 2^64: carry out of the low word, and the length's own
  // top three bits into the high word.
  uint32_t bits_lo = len << 3;
  ctx->count[0] += bits_lo;
  if (ctx->count[0] < bits_lo) ctx->count[1]++;
  ctx->count[1] += len >> 29;

  uint32_t part = 64 - index;
  uint32_t i = 0;
  if (len >= part) {
    std::memcpy(&ctx->buffer[index], input, part);
    transform(ctx->state, ctx->buffer);
    for (i = part; len - i >= 64; i += 64) transform(ctx->state, &input[i]);
    index = 0;
  }
  if (len > i) std::memcpy(&ctx->buffer[index], &input[i], len - i);
}

void MD5Final(unsigned char digest[16], MD5_CTX *ctx) {
  unsigned char bits[8];
  store_le32(bits, ctx->count[0]);
  store_le32(bits + 4, ctx->count[1]);
  uint32_t index = (ctx->count[0] >> 3) & 0x3F;
  uint32_t pad = index < 56 ? 56 - index : 120 - index;
  MD5Update(ctx, kPadding, pad);
  MD5Update(ctx, bits, 8);
  for (int i = 0; i < 4; ++i) store_le32(digest + 4 * i, ctx->state[i]);
  wipe(ctx, sizeof *ctx);
}

}  // extern "C"
