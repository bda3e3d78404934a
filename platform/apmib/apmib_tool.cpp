// "apmib": read and change the configuration store file by hand.
//   apmib show                 every stored item
//   apmib keys                 every item this store knows: name, id, kind, size
//   apmib get KEY              one value, as the store file writes it (an item whose reads fail:
//                              a message on standard error and exit status 1)
//   apmib set KEY VALUE        change one value and commit (texts without quotes)
//   apmib fail KEY | heal KEY  make reads of an item fail / succeed again
// KEY is NAME, an id, or wlanR[-vaN|-vxd].NAME for a wireless interface's item. "set" goes through
// the store library's own calls (libapmib.so), as a handler would; the others read or edit the file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unistd.h>

#include "brimlib.h"
#include "platform/apmib/store.h"

// The store resolves wireless items against these symbols of the process.
extern "C" {
BRIM_API int32_t wlan_idx = 0;
BRIM_API int32_t vwlan_idx = 0;
}

namespace {

apmib::Table g_table;

constexpr const char kUsage[] =
    "usage: apmib show | keys | get KEY | set KEY VALUE | fail KEY | heal KEY\n"
    "The configuration store file (APMIB_STORE, default /etc/apmib.store) by hand. KEY is NAME,\n"
    "its id, or wlanR[-vaN|-vxd].NAME for a wireless interface's item; fail and heal make its\n"
    "reads fail and succeed again.\n";

int usage(FILE *to = stderr) {
  std::fputs(kUsage, to);
  return to == stderr ? 2 : 0;
}

const char *kind_name(apmib::Kind k) {
  switch (k) {
    case apmib::Kind::Int: return "int";
    case apmib::Kind::Ip: return "ip";
    case apmib::Kind::Text: return "text";
    case apmib::Kind::Bytes: return "bytes";
  }
  return "?";
}

// One line per item: NAME ID KIND SIZE, and "per-wlan" for an item of each wireless interface.
int keys() {
  size_t n = 0;
  const apmib::Item *it = apmib::items(&n);
  for (size_t i = 0; i < n; ++i)
    std::printf("%-24s %6d %-5s %4u%s\n", it[i].name, it[i].id, kind_name(it[i].kind), unsigned{it[i].size},
                it[i].per_wlan ? "  per-wlan" : "");
  return 0;
}

int get(const char *path, const char *name, const apmib::Key &key) {
  if (!apmib::read_file(path, g_table)) {
    std::fprintf(stderr, "apmib: cannot read %s\n", path);
    return 1;
  }
  const apmib::Value *v = apmib::slot_of(g_table, key);
  char text[apmib::kMaxValue * 4 + 8];
  if (!v || apmib::format_value(*key.item, v->data, text, sizeof text) < 0) {
    std::fprintf(stderr, "apmib: %s: no such interface\n", name);
    return 1;
  }
  if (v->unreadable) {
    std::fprintf(stderr, "apmib: %s: reads of this item fail (apmib heal %s)\n", name, name);
    return 1;
  }
  std::printf("%s\n", text);
  return 0;
}

struct Marking {
  apmib::Key key;
  bool unreadable;
};

bool mark(apmib::Table &t, void *ctx) {
  auto *m = static_cast<Marking *>(ctx);
  apmib::Value *v = apmib::slot_of(t, m->key);
  if (v) v->unreadable = m->unreadable;
  return v != nullptr;
}

int set(const apmib::Key &key, const char *text) {
  uint8_t v[apmib::kMaxValue] = {};
  bool ok;
  if (key.item->kind == apmib::Kind::Text) {
    size_t n = std::strlen(text);
    ok = n < key.item->size;
    if (ok) std::memcpy(v, text, n);
  } else {
    ok = apmib::parse_value(*key.item, text, v);
  }
  if (!ok) {
    std::fprintf(stderr, "apmib: bad value for %s\n", key.item->name);
    return 1;
  }
  if (!apmib_init()) {
    // A missing store file starts empty.
    FILE *f = std::fopen(apmib::store_path(), "a");
    if (!f || std::fclose(f) != 0 || !apmib_init()) {
      std::fprintf(stderr, "apmib: cannot open %s\n", apmib::store_path());
      return 1;
    }
  }
  wlan_idx = key.radio;
  vwlan_idx = key.slot;
  return apmib_set(key.item->id, v) && apmib_update(0) ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  std::string_view cmd = argv[1];
  if (cmd == "--help" || cmd == "-h") return usage(stdout);
  if (cmd == "keys" && argc == 2) return keys();
  const char *path = apmib::store_path();
  if (cmd == "show" && argc == 2) {
    size_t len = 0;
    char *text = nullptr;
    if (::access(path, F_OK) == 0 && !apmib::read_file(path, g_table)) {
      std::fprintf(stderr, "apmib: cannot read %s\n", path);
      return 1;
    }
    text = apmib::render(g_table, &len);
    bool ok = text && std::fwrite(text, 1, len, stdout) == len;
    std::free(text);
    return ok ? 0 : 1;
  }
  if (cmd != "get" && cmd != "set" && cmd != "fail" && cmd != "heal" && cmd != "show" && cmd != "keys") {
    std::fprintf(stderr, "apmib: unknown command %s\n", argv[1]);
    return usage();
  }
  if (argc < 3 || cmd == "show" || cmd == "keys") return usage();
  apmib::Key key;
  if (!apmib::parse_key(argv[2], key)) {
    std::fprintf(stderr, "apmib: unknown item %s (apmib keys lists them)\n", argv[2]);
    return 1;
  }
  if (cmd == "get" && argc == 3) return get(path, argv[2], key);
  if ((cmd == "fail" || cmd == "heal") && argc == 3) {
    Marking m{key, cmd == "fail"};
    return apmib::rewrite(path, mark, &m, nullptr) ? 0 : 1;
  }
  if (cmd == "set" && argc == 4) return set(key, argv[3]);
  return usage();
}
