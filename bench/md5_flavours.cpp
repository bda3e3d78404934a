// MD5 through two builds of libbrim.so in one process, the first ours, the second the anchor:
// calls interleaved in rounds, each round in the other order than the last, timed in CPU time
// (the machine is shared; waiting for a core is not the code's cost); the median round counts.
// Used by bench/md5_mips16.sh for the MIPS16e router build against the MIPS32 one.
// Usage: md5_flavours OURS.so ANCHOR.so LABEL
#include <dlfcn.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bench.h"

namespace {

constexpr size_t kTotal = 1u << 20, kPiece = 16u << 10;
constexpr int kRounds = 41;

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

double cpu_ns() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e9 + ts.tv_nsec;
}

double timed(const Md5 &m, const unsigned char *data, unsigned char out[16]) {
  double t0 = cpu_ns();
  digest(m, data, out);
  return cpu_ns() - t0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
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
  std::vector<double> t_ours, t_anchor;
  for (int r = 0; r < kRounds; ++r) {
    if (r % 2) t_anchor.push_back(timed(anchor, data, b));
    t_ours.push_back(timed(ours, data, a));
    if (r % 2 == 0) t_anchor.push_back(timed(anchor, data, b));
  }
  const double mib = kTotal / double(1u << 20);
  bench::report(argv[3], mib / (median(t_ours) / 1e9), mib / (median(t_anchor) / 1e9), "MiB/s", ">= 0.95");
  std::free(data);
  return 0;
}
