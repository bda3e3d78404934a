// MD5 through two builds of libbrim.so in one process, calls interleaved in rounds so that the
// machine's noise hits both alike: the first library is ours, the second the anchor. Used by
// bench/md5_mips16.sh for the MIPS16e router build against the MIPS32 one.
// Usage: md5_flavours OURS.so ANCHOR.so LABEL
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench.h"

namespace {

constexpr size_t kTotal = 1u << 20, kPiece = 16u << 10;

struct Md5 {  // the three calls, as libbrim.so exports them; the context is opaque here
  void (*init)(void *);
  void (*update)(void *, const void *, uint32_t);
  void (*final)(unsigned char *, void *);
};

bool open_md5(const char *path, Md5 &m) {
  // RTLD_LOCAL: each library's own calls (MD5Final to MD5Update) stay within it.
  void *h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!h) {
    std::fprintf(stderr, "md5_flavours: %s\n", dlerror());
    return false;
  }
  m.init = reinterpret_cast<decltype(m.init)>(dlsym(h, "MD5Init"));
  m.update = reinterpret_cast<decltype(m.update)>(dlsym(h, "MD5Update"));
  m.final = reinterpret_cast<decltype(m.final)>(dlsym(h, "MD5Final"));
  return m.init && m.update && m.final;
}

void digest(const Md5 &m, const unsigned char *data, unsigned char out[16]) {
  alignas(8) unsigned char ctx[88];
  m.init(ctx);
  for (size_t i = 0; i < kTotal; i += kPiece) m.update(ctx, data + i, kPiece);
  m.final(out, ctx);
}

}  // namespace

int main(int argc, char **argv) {
  Md5 ours{}, anchor{};
  if (argc != 4 || !open_md5(argv[1], ours) || !open_md5(argv[2], anchor)) return 2;
  auto *data = static_cast<unsigned char *>(std::malloc(kTotal));
  if (!data) return 1;
  for (size_t i = 0; i < kTotal; ++i) data[i] = static_cast<unsigned char>((i * 2654435761u) >> 11);
  unsigned char a[16], b[16];
  digest(ours, data, a);
  digest(anchor, data, b);
  if (std::memcmp(a, b, 16) != 0) {
    std::fprintf(stderr, "md5_flavours: digests differ\n");
    return 1;
  }
  auto [t_ours, t_anchor] = bench::side_by_side(41, 1, [&] { digest(ours, data, a); }, [&] { digest(anchor, data, b); });
  const double mib = kTotal / double(1u << 20);
  bench::report(argv[3], mib / (t_ours / 1e9), mib / (t_anchor / 1e9), "MiB/s", ">= 0.95");
  std::free(data);
  return 0;
}
