// What the unit tests share: the headers most of them use, a private directory under /tmp,
// whole-file reads and writes, streams over text, the count of open descriptors, output capture.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "brimlib.h"  // last: it exports a global named `tm`, which hides struct tm from what follows

namespace unit {

struct TempDir {
  TempDir() { char t[] = "/tmp/brim_unit_XXXXXX"; dir = mkdtemp(t) ? t : "/nonexistent"; }
  ~TempDir() { std::error_code ec; std::filesystem::remove_all(dir, ec); }
  std::string operator/(const std::string &name) const { return dir + "/" + name; }
  long entries() const { return std::distance(std::filesystem::directory_iterator(dir), {}); }
  std::string dir;
};

inline void put(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }
inline std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
// A stream over the given bytes, read through the real file system.
inline FILE *stream_of(const std::string &bytes) {
  FILE *f = std::tmpfile();
  if (f != nullptr) std::fwrite(bytes.data(), 1, bytes.size(), f), std::rewind(f);
  return f;
}
inline long open_fds() { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); }
// What `f` printed on stdout (or stderr).
template <class F> std::string out_of(F f) { testing::internal::CaptureStdout(); f(); return testing::internal::GetCapturedStdout(); }
template <class F> std::string err_of(F f) { testing::internal::CaptureStderr(); f(); return testing::internal::GetCapturedStderr(); }

}  // namespace unit
