// A small harness for side-by-side figures: ours and an anchor measured in the same run,
// interleaved in rounds so that machine noise hits both alike; the median round counts.
#pragma once

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

inline double now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e9 + ts.tv_nsec;
}

// Times `iters` calls of f; returns nanoseconds per call.
template <typename F>
double per_call_ns(int iters, F &&f) {
  double t0 = now_ns();
  for (int i = 0; i < iters; ++i) f();
  return (now_ns() - t0) / iters;
}

// Runs ours and the anchor alternately for `rounds` rounds; returns the median of each.
template <typename A, typename B>
std::pair<double, double> side_by_side(int rounds, int iters, A &&ours, B &&anchor) {
  std::vector<double> a, b;
  for (int r = 0; r < rounds; ++r) {
    a.push_back(per_call_ns(iters, ours));
    b.push_back(per_call_ns(iters, anchor));
  }
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  return {a[a.size() / 2], b[b.size() / 2]};
}

// One line per figure: name, ours, anchor, ratio, goal ("<= 1.05" or ">= 0.8").
inline void report(const char *name, double ours, double anchor, const char *unit, const char *goal) {
  std::printf("%-44s ours %12.1f %-5s anchor %12.1f %-5s ratio %6.3f  goal %s\n", name, ours, unit, anchor,
              unit, anchor > 0 ? ours / anchor : 0.0, goal);
}

}  // namespace bench
