// Every text utility over any text and any small sizes. Output blocks are heap blocks of exactly
// the size each contract names, so a byte written past the end is a sanitizer report.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

namespace {

// A small signed size from one byte: mostly 0..40, sometimes negative.
int small(uint8_t b) { return static_cast<int>(b % 48) - 4; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  uint8_t which = r.byte();
  uint8_t a = r.byte(), b = r.byte();
  char delim = static_cast<char>(r.byte());
  std::string text = r.text();
  auto src = brim_fuzz::c_string(text);

  switch (which % 7) {
    case 0:
      for (char c : text)
        if (_is_hex(static_cast<unsigned char>(c)) != (std::strchr("0123456789abcdefABCDEF", c) != nullptr && c))
          std::abort();
      break;
    case 1: {
      int rows = small(a), row_size = small(b);
      size_t block = rows > 0 && row_size > 0 ? static_cast<size_t>(rows) * static_cast<size_t>(row_size) : 1;
      auto dst = std::make_unique<char[]>(block);
      int n = splitString2Arr_v2(src.get(), dst.get(), rows, row_size, delim);
      if (n >= 0 && (rows <= 0 || row_size <= 0 || n > rows)) std::abort();
      for (int k = 0; k < n; ++k)
        if (std::memchr(dst.get() + static_cast<size_t>(k) * row_size, '\0', static_cast<size_t>(row_size)) == nullptr)
          std::abort();
      break;
    }
    case 2: {
      int count = static_cast<int>(text.size());
      auto out = std::make_unique<char[]>(2 * text.size() + 1);
      convert_bin_to_str(reinterpret_cast<const unsigned char *>(text.data()), count, out.get());
      if (std::strlen(out.get()) != 2 * text.size()) std::abort();
      break;
    }
    case 3: {
      auto out = std::make_unique<char[]>(128);
      checkVar(src.get(), small(a), out.get());
      if (std::strlen(out.get()) >= 128) std::abort();
      break;
    }
    case 4: {
      int len = small(a) * 3;
      auto out = std::make_unique<unsigned char[]>(len > 0 ? static_cast<size_t>(len + 1) / 2 : 1);
      string_to_hex(src.get(), out.get(), len);
      break;
    }
    case 5: {
      int v = isMacValid(src.get());
      if (v == 1 && std::strlen(src.get()) != 17) std::abort();
      break;
    }
    case 6: {
      int len = small(b);
      auto out = std::make_unique<char[]>(len > 0 ? static_cast<size_t>(len) : 1);
      if (getNthValueSafe(small(a), src.get(), delim, out.get(), len) == 0 &&
          std::strlen(out.get()) >= static_cast<size_t>(len))
        std::abort();
      break;
    }
  }
  return 0;
}
