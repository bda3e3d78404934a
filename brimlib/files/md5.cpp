// MD5 message digest (RFC 1321) over a caller-owned context: init, update in pieces, final.
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
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

inline void store_le32(unsigned char *p, uint32_t v) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  std::memcpy(p, &v, 4);
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }  // (x&y)|(~x&z)
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }
// n is 4..23 here; the compilers turn this form into one rotate instruction.
inline uint32_t rotl(uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); }

// The per-step constants of RFC 1321, in step order.
constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr uint8_t kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// Round 2's function as a sum of two disjoint parts, so that only one AND waits for b.
inline uint32_t G_free(uint32_t c, uint32_t d) { return c & ~d; }

// One round: 16 steps; the message word of step i is x[(start + stride * i) mod 16]. Each step
// adds the message word and constant first, as they do not wait for b, the previous step's result.
// Speed builds unroll the loop, which turns the rotation of a..d into renaming and every index and
// constant into an immediate; size builds keep it a loop, a quarter of the size.
#ifdef __OPTIMIZE_SIZE__
#define BRIM_MD5_UNROLL
#else
#define BRIM_MD5_UNROLL _Pragma("GCC unroll 16")
#endif
template <int Round>
inline void round16(uint32_t &a, uint32_t &b, uint32_t &c, uint32_t &d, const uint32_t x[16]) {
  constexpr int start = Round == 0 ? 0 : Round == 1 ? 1 : Round == 2 ? 5 : 0;
  constexpr int stride = Round == 0 ? 1 : Round == 1 ? 5 : Round == 2 ? 3 : 7;
  BRIM_MD5_UNROLL
  for (int i = 0; i < 16; ++i) {
    uint32_t t = a + x[(start + stride * i) & 15] + kT[Round * 16 + i];
    if constexpr (Round == 0) t += F(b, c, d);
    if constexpr (Round == 1) t += G_free(c, d) + (b & d);
    if constexpr (Round == 2) t += H(b, c, d);
    if constexpr (Round == 3) t += I(b, c, d);
    t = rotl(t, kShift[Round][i & 3]) + b;
    a = d;
    d = c;
    c = b;
    b = t;
  }
}
#undef BRIM_MD5_UNROLL

void transform(uint32_t state[4], const unsigned char block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = load_le32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  round16<0>(a, b, c, d, x);
  round16<1>(a, b, c, d, x);
  round16<2>(a, b, c, d, x);
  round16<3>(a, b, c, d, x);
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
