// What the fuzz targets share: views of the raw input, NUL-free pieces of it for the functions that
// take C strings, the check that ends a run, and the entry point.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#define BRIM_FUZZ_TARGET extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)

namespace brim_fuzz {

inline void require(bool ok) { if (!ok) std::abort(); }
inline std::string_view view(const uint8_t *data, size_t size) { return {reinterpret_cast<const char *>(data), size}; }
// A view that is empty or lies within `whole`.
inline bool inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}
// The input as a read-only stream; nullptr for an empty one.
inline FILE *stream(const uint8_t *data, size_t size) { return size ? fmemopen(const_cast<uint8_t *>(data), size, "r") : nullptr; }

// The input up to its first NUL, as a terminated copy in a heap block of exactly its size, so
// that a read past the terminator is an AddressSanitizer report.
inline std::unique_ptr<char[]> c_string(std::string_view text) {
  size_t n = std::min(text.find('\0'), text.size());
  auto out = std::make_unique<char[]>(n + 1);
  std::memcpy(out.get(), text.data(), n);
  out[n] = '\0';
  return out;
}

// Takes pieces off the front of the input: a byte, or text up to the next NUL (or the end).
class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  uint8_t byte() { if (in_.empty()) return 0; uint8_t b = static_cast<uint8_t>(in_.front()); in_.remove_prefix(1); return b; }
  std::string text() {
    size_t n = in_.find('\0');
    std::string out(in_.substr(0, n));
    in_.remove_prefix(n == std::string_view::npos ? in_.size() : n + 1);
    return out;
  }
  std::string_view rest() const { return in_; }

 private:
  std::string_view in_;
};

}  // namespace brim_fuzz
