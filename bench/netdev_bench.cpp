// getStats's reader on a /proc/net/dev text of many interfaces, against a plain fgets + sscanf
// loop over the same file, both looking up the last interface; and how its cost per line grows
// from 100 to 1,000 interfaces.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench.h"
#include "brimlib.h"
#include "brimlib/net/kernel_tables.h"

namespace {

// A fixture in the kernel's current layout with `n` interfaces named if0..if<n-1>.
std::string write_fixture(int n) {
  char path[] = "/tmp/netdev_bench_XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) std::abort();
  FILE *f = fdopen(fd, "w");
  std::fputs("Inter-|   Receive                                                |  Transmit\n"
             " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo "
             "colls carrier compressed\n",
             f);
  for (int i = 0; i < n; ++i)
    std::fprintf(f, "%8s: %10llu %8d    0    0    0     0          0  %8d %10llu %8d    0    0    0     0       0  "
                    "        0\n",
                 ("if" + std::to_string(i)).c_str(), 5000000000ull + i * 1000ull, 1000 + i, i, 7000000000ull + i,
                 2000 + i);
  std::fclose(f);
  return path;
}

// The anchor: name with %[^:], then the sixteen counters once the name matches.
int sscanf_lookup(FILE *f, const char *want, NetDevStats &s) {
  char line[512];
  if (!std::fgets(line, sizeof line, f) || !std::fgets(line, sizeof line, f)) return -1;
  while (std::fgets(line, sizeof line, f)) {
    char name[32];
    int used = 0;
    if (std::sscanf(line, " %31[^:]:%n", name, &used) != 1 || std::strcmp(name, want) != 0) continue;
    unsigned long long rb, rp, tb, tp;
    unsigned re, rd, rf, rfr, rc, rm, te, td, tf, co, ca, tc;
    std::sscanf(line + used, "%llu %llu %u %u %u %u %u %u %llu %llu %u %u %u %u %u %u", &rb, &rp, &re, &rd, &rf,
                &rfr, &rc, &rm, &tb, &tp, &te, &td, &tf, &co, &ca, &tc);
    s.rx_bytes = rb;
    s.rx_packets = rp;
    s.tx_bytes = tb;
    s.tx_packets = tp;
    s.rx_errors = re;
    s.rx_dropped = rd;
    s.rx_fifo_errors = rf;
    s.rx_frame_errors = rfr;
    s.rx_compressed = rc;
    s.rx_multicast = rm;
    s.tx_errors = te;
    s.tx_dropped = td;
    s.tx_fifo_errors = tf;
    s.collisions = co;
    s.tx_carrier_errors = ca;
    s.tx_compressed = tc;
    return 0;
  }
  return -1;
}

struct Fixture {
  explicit Fixture(int n) : path(write_fixture(n)), last("if" + std::to_string(n - 1)) {
    f = std::fopen(path.c_str(), "re");
    if (f == nullptr) std::abort();
  }
  ~Fixture() {
    std::fclose(f);
    unlink(path.c_str());
  }
  int ours() {
    std::rewind(f);
    return brim::netdev_stats_from(f, last, stats);
  }
  int anchor() {
    std::rewind(f);
    return sscanf_lookup(f, last.c_str(), stats);
  }
  std::string path, last;
  FILE *f = nullptr;
  NetDevStats stats{};
};

}  // namespace

int main() {
  Fixture big(1000), small(100);
  if (big.ours() != 0 || big.anchor() != 0 || small.ours() != 0) {
    std::fprintf(stderr, "fixture lookup failed\n");
    return 1;
  }
  auto [ours, anchor] = bench::side_by_side(31, 20, [&] { big.ours(); }, [&] { big.anchor(); });
  bench::report("getStats reader, 1000 ifs / fgets+sscanf", ours / 1000, anchor / 1000, "us", "<= 1.2");

  auto [at1000, at100] = bench::side_by_side(31, 20, [&] { big.ours(); }, [&] { small.ours(); });
  bench::report("getStats per line, 1000 ifs / 100 ifs", at1000 / 1000, at100 / 100, "ns", "linear (~1.0)");
  return 0;
}
