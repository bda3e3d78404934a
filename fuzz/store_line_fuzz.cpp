// Lines of the store file: any line parses to blank, entry or bad without reading outside it,
// and an entry's key and value survive being written back and read again.
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "platform/apmib/store.h"

namespace {

bool same_value(const apmib::Item &item, const uint8_t *a, const uint8_t *b) {
  if (item.kind != apmib::Kind::Text) return std::memcmp(a, b, item.size) == 0;
  size_t na = strnlen(reinterpret_cast<const char *>(a), item.size);
  size_t nb = strnlen(reinterpret_cast<const char *>(b), item.size);
  return na == nb && std::memcmp(a, b, na) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  apmib::Line line = apmib::parse_line(brim_fuzz::view(data, size));
  if (line.kind != apmib::LineKind::Entry) return 0;
  const apmib::Item &item = *line.key.item;

  char key[96];
  int kn = apmib::format_key(item, line.key.radio, line.key.slot, key, sizeof key);
  if (kn < 0) std::abort();
  apmib::Key again;
  if (!apmib::parse_key(std::string_view(key, static_cast<size_t>(kn)), again)) std::abort();
  if (again.item != &item || again.radio != line.key.radio || again.slot != line.key.slot) std::abort();

  if (!line.has_value) return 0;
  char text[4 * apmib::kMaxValue + 8];
  int vn = apmib::format_value(item, line.value, text, sizeof text);
  if (vn < 0) std::abort();
  uint8_t back[apmib::kMaxValue] = {};
  if (!apmib::parse_value(item, std::string_view(text, static_cast<size_t>(vn)), back)) std::abort();
  if (!same_value(item, line.value, back)) std::abort();
  return 0;
}
