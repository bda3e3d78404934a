// "apmib": read and change the configuration store file by hand.
//   apmib show                 every stored item
//   apmib get KEY              one value, as the store file writes it
//   apmib set KEY VALUE        change one value and commit (texts without quotes)
//   apmib fail KEY | heal KEY  make reads of an item fail / succeed again
// KEY is NAME, an id, or wlanR[-vaN|-vxd].NAME for a wireless interface's item.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "brimlib.h"
#include "platform/apmib/store.h"

namespace {

int usage() {
  std::fputs("usage: apmib show | get KEY | set KEY VALUE | fail KEY | heal KEY\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  std::string_view cmd = argv[1];
  if (!apmib_init()) {
    // A missing store file starts empty; anything else is an error.
    FILE *f = std::fopen(apmib::store_path(), "a");
    if (!f || std::fclose(f) != 0 || !apmib_init()) {
      std::fprintf(stderr, "apmib: cannot open %s\n", apmib::store_path());
      return 1;
    }
  }
  if (cmd == "show") {
    return apmib::dump(1) ? 0 : 1;
  }
  if (argc < 3) return usage();
  apmib::Key key;
  if (!apmib::parse_key(argv[2], key)) {
    std::fprintf(stderr, "apmib: unknown item %s\n", argv[2]);
    return 1;
  }
  if (cmd == "get") {
    uint8_t v[apmib::kMaxValue];
    bool bad = false;
    char text[apmib::kMaxValue * 4 + 8];
    if (!apmib::get_slot(key, v, &bad) || apmib::format_value(*key.item, v, text, sizeof text) < 0) return 1;
    std::printf("%s%s\n", bad ? "!" : "", text);
    return 0;
  }
  if (cmd == "fail" || cmd == "heal") {
    apmib::mark_unreadable(key, cmd == "fail");
    return apmib::save(apmib::store_path()) ? 0 : 1;
  }
  if (cmd == "set" && argc == 4) {
    uint8_t v[apmib::kMaxValue];
    bool ok;
    if (key.item->kind == apmib::Kind::Text) {
      std::memset(v, 0, sizeof v);
      size_t n = std::strlen(argv[3]);
      ok = n < key.item->size;
      if (ok) std::memcpy(v, argv[3], n);
    } else {
      ok = apmib::parse_value(*key.item, argv[3], v);
    }
    if (!ok) {
      std::fprintf(stderr, "apmib: bad value for %s\n", key.item->name);
      return 1;
    }
    apmib::set_slot(key, v);
    return apmib::save(apmib::store_path()) ? 0 : 1;
  }
  return usage();
}
