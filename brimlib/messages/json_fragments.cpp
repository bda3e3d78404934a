// Flat JSON objects grown one member at a time inside a caller's buffer, with every double
// quote backslash-escaped so the whole text can sit inside another double-quoted string.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "brimlib.h"
#include "brimlib/messages/json_fragment.h"

namespace brim {
namespace {

// Appends bounded; `ok` turns false for good once something does not fit.
struct Writer {
  char *p;
  size_t cap;
  size_t n = 0;
  bool ok = true;
  void put(std::string_view s) {
    if (!ok || s.size() >= cap - n) {
      ok = false;
      return;
    }
    std::memcpy(p + n, s.data(), s.size());
    n += s.size();
    p[n] = '\0';
  }
  // A text as it must appear in the fragment: escaped once as a JSON string member, then once
  // more for the outer string. Ordinary characters pass unchanged.
  void put_escaped(std::string_view s) {
    for (char c : s) {
      unsigned char u = static_cast<unsigned char>(c);
      if (c == '"') {
        put("\\\\\\\"");  // \\\" decodes to \" which decodes to "
      } else if (c == '\\') {
        put("\\\\\\\\");
      } else if (u < 0x20) {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\\\u%04x", u);
        put(esc);
      } else {
        put(std::string_view(&c, 1));
      }
    }
  }
};

}  // namespace

bool format_member(char *work, size_t cap, bool first, std::string_view name, std::string_view value) {
  if (cap == 0) return false;
  std::memset(work, 0, cap);
  Writer w{work, cap};
  w.put(first ? "{\\\"" : ",\\\"");
  w.put_escaped(name);
  w.put("\\\":\\\"");
  w.put_escaped(value);
  w.put("\\\"}");
  if (!w.ok) std::memset(work, 0, cap);
  return w.ok;
}

}  // namespace brim

namespace {

int append_member(char *root, const char *name, std::string_view value) {
  if (root == nullptr || name == nullptr) return -1;
  char work[128];
  bool first = root[0] == '\0';
  if (!brim::format_member(work, sizeof work, first, name, value)) return -1;
  // The closing brace of the text built so far gives way to the new member.
  if (!first) root[std::strlen(root) - 1] = '\0';
  std::strcat(root, work);
  return 0;
}

}  // namespace

extern "C" {

int addInfoToroot(char *root, const char *name, const char *value) {
  if (value == nullptr) return -1;
  return append_member(root, name, value);
}

int addNumInfoToroot(char *root, const char *name, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
  return append_member(root, name, text);
}

}  // extern "C"
