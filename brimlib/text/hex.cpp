// Hexadecimal digits: testing one, bytes to lower-case hex text, and hex text back to bytes.
// Pure functions over caller buffers; they keep no state and allocate nothing.
#include "brimlib.h"

namespace {

int digit_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

extern "C" {

int _is_hex(int c) { return digit_value(static_cast<unsigned char>(c & 0xff)) >= 0 ? 1 : 0; }

void convert_bin_to_str(const unsigned char *bin, int count, char *out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  if (out == nullptr) return;
  out[0] = '\0';
  if (bin == nullptr || count <= 0) return;
  // Exactly 2 * count + 1 bytes are written, the terminator included.
  char *p = out;
  for (int i = 0; i < count; ++i) {
    *p++ = kDigits[bin[i] >> 4];
    *p++ = kDigits[bin[i] & 0x0f];
  }
  *p = '\0';
}

int string_to_hex(const char *text, unsigned char *out, int len) {
  if (len <= 0) return 1;
  if (text == nullptr || out == nullptr) return 0;
  // The second character of a pair is looked at only after the first passed, so it is at worst
  // the text's terminator (which fails): a text shorter than `len` is never read past its end.
  // With an odd `len` the last pair takes in the character after it, as callers have known it.
  for (int pos = 0; pos < len; pos += 2) {
    int hi = digit_value(static_cast<unsigned char>(text[pos]));
    if (hi < 0) return 0;
    int lo = digit_value(static_cast<unsigned char>(text[pos + 1]));
    if (lo < 0) return 0;
    out[pos / 2] = static_cast<unsigned char>(hi * 16 + lo);
  }
  return 1;
}

}  // extern "C"
