// Every text utility over any text and any small sizes. Output blocks are heap blocks of exactly
// the size each contract names, so a byte written past the end is a sanitizer report.
#include "brimlib.h"
#include "fuzz/fuzz_input.h"

using brim_fuzz::require;
static int small(uint8_t b) { return static_cast<int>(b % 48) - 4; }  // a small signed size: mostly 0..40, sometimes negative
static std::unique_ptr<char[]> block(int n) { return std::make_unique<char[]>(n > 0 ? static_cast<size_t>(n) : 1); }

BRIM_FUZZ_TARGET {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  uint8_t which = r.byte(), a = r.byte(), b = r.byte();
  char delim = static_cast<char>(r.byte());
  std::string text = r.text();
  auto src = brim_fuzz::c_string(text);
  switch (which % 7) {
    case 0:
      for (char c : text) require(_is_hex(static_cast<unsigned char>(c)) == (c && std::strchr("0123456789abcdefABCDEF", c) != nullptr));
      break;
    case 1: {
      int rows = small(a), row_size = small(b);
      auto dst = block(rows > 0 && row_size > 0 ? rows * row_size : 1);
      int n = splitString2Arr_v2(src.get(), dst.get(), rows, row_size, delim);
      require(n < 0 || (rows > 0 && row_size > 0 && n <= rows));
      for (int k = 0; k < n; ++k) require(std::memchr(dst.get() + static_cast<size_t>(k) * row_size, '\0', static_cast<size_t>(row_size)));
      break;
    }
    case 2: {
      auto out = block(static_cast<int>(2 * text.size() + 1));
      convert_bin_to_str(reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()), out.get());
      require(std::strlen(out.get()) == 2 * text.size());
      break;
    }
    case 3: {
      auto out = block(128);
      checkVar(src.get(), small(a), out.get());
      require(std::strlen(out.get()) < 128);
      break;
    }
    case 4: {
      int len = small(a) * 3;
      auto out = std::make_unique<unsigned char[]>(len > 0 ? static_cast<size_t>(len + 1) / 2 : 1);
      string_to_hex(src.get(), out.get(), len);
      break;
    }
    case 5: require(isMacValid(src.get()) != 1 || std::strlen(src.get()) == 17); break;
    case 6: {
      int len = small(b);
      auto out = block(len);
      require(getNthValueSafe(small(a), src.get(), delim, out.get(), len) != 0 || std::strlen(out.get()) < static_cast<size_t>(len));
      break;
    }
  }
  return 0;
}
