// BrimSystem against the C library's system(3), same command, same run.
#include <cstdlib>

#include "bench/bench.h"
#include "brimlib.h"

int main() {
  auto [ours, anchor] = bench::side_by_side(
      15, 40, [] { BrimSystem("true", 0); }, [] { (void)std::system("true"); });
  bench::report("BrimSystem latency / system(3)", ours / 1000, anchor / 1000, "us", "<= 1.05");
  return 0;
}
