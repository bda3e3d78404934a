// Lines of the store file: any line parses to blank, entry or bad without reading outside it,
// and an entry's key and value survive being written back and read again.
#include "fuzz/fuzz_input.h"
#include "platform/apmib/store.h"

using brim_fuzz::require;

BRIM_FUZZ_TARGET {
  apmib::Line line = apmib::parse_line(brim_fuzz::view(data, size));
  if (line.kind != apmib::LineKind::Entry) return 0;
  const apmib::Item &item = *line.key.item;
  char key[96], text[4 * apmib::kMaxValue + 8];
  int kn = apmib::format_key(item, line.key.radio, line.key.slot, key, sizeof key);
  apmib::Key again;
  require(kn >= 0 && apmib::parse_key(std::string_view(key, static_cast<size_t>(kn)), again));
  require(again.item == &item && again.radio == line.key.radio && again.slot == line.key.slot);
  if (!line.has_value) return 0;
  int vn = apmib::format_value(item, line.value, text, sizeof text);
  uint8_t back[apmib::kMaxValue] = {};
  require(vn >= 0 && apmib::parse_value(item, std::string_view(text, static_cast<size_t>(vn)), back));
  // Texts compare up to their terminator, other kinds byte for byte.
  size_t n = item.kind != apmib::Kind::Text ? item.size : strnlen(reinterpret_cast<const char *>(line.value), item.size);
  require(std::memcmp(line.value, back, n) == 0 && (item.kind != apmib::Kind::Text || strnlen(reinterpret_cast<const char *>(back), item.size) == n));
  return 0;
}
