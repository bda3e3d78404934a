// atoi-style reading of the number at the start of a text, without atoi's undefined overflow and
// without reading past the view (fixed-size record fields need not be terminated).
#pragma once

#include <cstdint>
#include <string_view>

namespace brim {

// Leading white space (as isspace in the C locale), an optional sign, then decimal digits up to
// the first other character. No digits gives 0. Values beyond int32_t saturate.
constexpr int32_t leading_int(std::string_view s) {
  size_t i = 0;
  auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < s.size() && space(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) v = int64_t{INT32_MAX} + 1;  // stays saturated from here on
  }
  if (neg) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace brim
