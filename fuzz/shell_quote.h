// A reference reader of the one shell construct brim_shell_quote emits: single-quoted strings
// and backslash-escaped characters outside quotes (POSIX XCU 2.2.2, 2.2.1). Anything else
// outside quotes (blanks, operators, expansions) is not something the helper may produce.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brim_fuzz {

// The single word the shell reads from `quoted`, or nothing when `quoted` holds anything but
// quoted text and escaped characters (and so could split, expand or run something).
inline std::optional<std::string> read_quoted_word(std::string_view quoted) {
  if (quoted.empty()) return std::nullopt;
  std::string word;
  size_t i = 0;
  while (i < quoted.size()) {
    char c = quoted[i];
    if (c == '\'') {
      size_t end = quoted.find('\'', i + 1);
      if (end == std::string_view::npos) return std::nullopt;  // unterminated
      word.append(quoted.substr(i + 1, end - i - 1)), i = end + 1;
    } else if (c == '\\' && i + 1 < quoted.size() && quoted[i + 1] != '\n') {
      word.push_back(quoted[i + 1]), i += 2;
    } else {
      return std::nullopt;
    }
  }
  return word;
}

}  // namespace brim_fuzz
