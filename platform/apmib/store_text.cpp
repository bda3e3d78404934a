// Configuration store stand-in, its file: the schema, the text form of the store file, and a
// commit that changes the file under a lock, so that no process undoes another's change.
#include "platform/apmib/store.h"

#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "brimlib/common/unique_fd.h"

namespace apmib {
namespace {

constexpr Item kItems[] = {
    {3, "WLAN_WEP", Kind::Int, 4, true},
    {4, "WLAN_WEP64_KEY1", Kind::Bytes, 5, true},
    {5, "WLAN_WEP64_KEY2", Kind::Bytes, 5, true},
    {6, "WLAN_WEP64_KEY3", Kind::Bytes, 5, true},
    {7, "WLAN_WEP64_KEY4", Kind::Bytes, 5, true},
    {8, "WLAN_WEP128_KEY1", Kind::Bytes, 13, true},
    {9, "WLAN_WEP128_KEY2", Kind::Bytes, 13, true},
    {10, "WLAN_WEP128_KEY3", Kind::Bytes, 13, true},
    {11, "WLAN_WEP128_KEY4", Kind::Bytes, 13, true},
    {12, "WLAN_WEP_KEY_TYPE", Kind::Int, 4, true},
    {13, "WLAN_WEP_DEFAULT_KEY", Kind::Int, 4, true},
    {20, "WLAN_AUTH_TYPE", Kind::Int, 4, true},
    {22, "WLAN_DISABLED", Kind::Int, 4, true},
    {25, "WLAN_ENCRYPT", Kind::Int, 4, true},
    {29, "WLAN_WPA_CIPHER_SUITE", Kind::Int, 4, true},
    {30, "WLAN_WPA_PSK", Kind::Text, 65, true},
    {38, "WLAN_WPA2_CIPHER_SUITE", Kind::Int, 4, true},
    {74, "WLAN_BAND", Kind::Int, 4, true},
    {103, "WAN_DEFAULT_GATEWAY", Kind::Ip, 4, false},
    {104, "WAN_DHCP", Kind::Int, 4, false},
    {170, "IP_ADDR", Kind::Ip, 4, false},
    {171, "SUBNET_MASK", Kind::Ip, 4, false},
    {173, "DHCP", Kind::Int, 4, false},
    {192, "OP_MODE", Kind::Int, 4, false},
    {193, "WISP_WAN_ID", Kind::Int, 4, false},
    {198, "HOST_NAME", Kind::Text, 32, false},
    {250, "REPEATER_ENABLED1", Kind::Int, 4, false},
    {252, "REPEATER_ENABLED2", Kind::Int, 4, false},
    {270, "WLAN_WSC_METHOD", Kind::Int, 4, true},
    {272, "WLAN_WSC_CONFIGURED", Kind::Int, 4, true},
    {274, "WLAN_WSC_AUTH", Kind::Int, 4, true},
    {275, "WLAN_WSC_ENC", Kind::Int, 4, true},
    {277, "WLAN_WSC_PSK", Kind::Text, 65, true},
    {278, "WLAN_WSC_SSID", Kind::Text, 33, true},
    {281, "WLAN_WSC_CONFIGBYEXTREG", Kind::Int, 4, true},
    {6002, "WEB_LANGUAGE", Kind::Text, 8, false},
    {7008, "WAN_LINK_MARK", Kind::Int, 4, false},
    {18051, "TELNET_ENABLED", Kind::Int, 4, false},
    {18067, "SUPER_PASSWORD", Kind::Text, 128, false},
    // Ours, above the vendor's ids: the router's bridge to the operator's cloud.
    {30000, "CLOUD_ENABLED", Kind::Int, 4, false},
    {30001, "CLOUD_ADDRESSES", Kind::Text, 128, false},
    {30002, "CLOUD_DEVICE_ID", Kind::Text, 65, false},
    {30003, "CLOUD_CLIENT_ID", Kind::Text, 128, false},
    {30004, "CLOUD_CA", Kind::Text, 128, false},
    {30005, "CLOUD_CERT", Kind::Text, 128, false},
    {30006, "CLOUD_KEY", Kind::Text, 128, false},
};
static_assert(sizeof(kItems) / sizeof(kItems[0]) == kItemCount, "the schema and store.h agree");
constexpr size_t kSlotsPerItem = kRadios * kSlots;
constexpr const char *kDefaultStore = "/etc/apmib.store";
constexpr size_t kMaxFile = 1 << 20;

bool parse_int(std::string_view s, int &out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out, 10);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends to a bounded output; remembers whether anything was cut.
struct Out {
  char *p;
  size_t cap;
  size_t n = 0;
  bool overflow = false;
  void put(char c) {
    if (n + 1 < cap) p[n++] = c; else overflow = true;
  }
  void put(std::string_view s) {
    for (char c : s) put(c);
  }
  int finish() {
    if (cap) p[n < cap ? n : cap - 1] = '\0';
    return overflow ? -1 : static_cast<int>(n);
  }
};

bool write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

const Item *items(size_t *count) {
  *count = kItemCount;
  return kItems;
}

const Item *find_item(int id) {
  for (const Item &it : kItems)
    if (it.id == id) return &it;
  return nullptr;
}

const Item *find_item(std::string_view name_or_id) {
  int id;
  if (parse_int(name_or_id, id)) return find_item(id);
  for (const Item &it : kItems)
    if (name_or_id == it.name) return &it;
  return nullptr;
}

bool parse_key(std::string_view text, Key &out) {
  Key k;
  text = trim(text);
  if (text.substr(0, 4) == "wlan") {
    size_t dot = text.find('.');
    if (dot == std::string_view::npos || dot < 5) return false;
    std::string_view ifname = text.substr(0, dot);
    text.remove_prefix(dot + 1);
    char r = ifname[4];
    if (r < '0' || r >= '0' + kRadios) return false;
    k.radio = r - '0';
    std::string_view rest = ifname.substr(5);
    if (rest.empty()) {
      k.slot = 0;
    } else if (rest == "-vxd") {
      k.slot = 5;
    } else if (rest.size() == 4 && rest.substr(0, 3) == "-va" && rest[3] >= '0' && rest[3] <= '4') {
      k.slot = rest[3] - '0' + 1;
    } else {
      return false;
    }
    k.item = find_item(text);
    if (!k.item || !k.item->per_wlan) return false;
  } else {
    k.item = find_item(text);
    if (!k.item) return false;
    // A wireless item without an interface means the root interface of radio 0.
  }
  out = k;
  return true;
}

int format_key(const Item &item, int radio, int slot, char *out, size_t cap) {
  int n;
  if (!item.per_wlan)
    n = std::snprintf(out, cap, "%s", item.name);
  else if (slot == 0)
    n = std::snprintf(out, cap, "wlan%d.%s", radio, item.name);
  else if (slot == 5)
    n = std::snprintf(out, cap, "wlan%d-vxd.%s", radio, item.name);
  else
    n = std::snprintf(out, cap, "wlan%d-va%d.%s", radio, slot - 1, item.name);
  return (n < 0 || static_cast<size_t>(n) >= cap) ? -1 : n;
}

bool parse_value(const Item &item, std::string_view text, uint8_t (&out)[kMaxValue]) {
  std::memset(out, 0, sizeof out);
  text = trim(text);
  switch (item.kind) {
    case Kind::Int: {
      int v;
      if (!parse_int(text, v)) return false;
      int32_t w = v;
      std::memcpy(out, &w, 4);
      return true;
    }
    case Kind::Ip: {
      char buf[16] = {};
      if (text.size() >= sizeof buf) return false;
      std::memcpy(buf, text.data(), text.size());
      struct in_addr a;
      if (::inet_pton(AF_INET, buf, &a) != 1) return false;
      std::memcpy(out, &a.s_addr, 4);  // network byte order, as stored on the router
      return true;
    }
    case Kind::Bytes: {
      if (text.size() != static_cast<size_t>(item.size) * 2) return false;
      for (size_t i = 0; i < item.size; ++i) {
        int hi = hexval(text[2 * i]), lo = hexval(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<uint8_t>(hi * 16 + lo);
      }
      return true;
    }
    case Kind::Text: {
      if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
      text = text.substr(1, text.size() - 2);
      size_t n = 0;
      for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') return false;
        if (c == '\\') {
          if (++i >= text.size()) return false;
          switch (text[i]) {
            case '\\': c = '\\'; break;
            case '"': c = '"'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'x': {
              if (i + 2 >= text.size()) return false;
              int hi = hexval(text[i + 1]), lo = hexval(text[i + 2]);
              if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return false;
              c = static_cast<char>(hi * 16 + lo);
              i += 2;
              break;
            }
            default: return false;
          }
        }
        if (n + 1 >= item.size) return false;  // longer than the item holds
        out[n++] = static_cast<uint8_t>(c);
      }
      return true;
    }
  }
  return false;
}

int format_value(const Item &item, const uint8_t *value, char *out, size_t cap) {
  Out o{out, cap};
  char tmp[32];
  switch (item.kind) {
    case Kind::Int: {
      int32_t v;
      std::memcpy(&v, value, 4);
      std::snprintf(tmp, sizeof tmp, "%d", static_cast<int>(v));
      o.put(tmp);
      break;
    }
    case Kind::Ip: {
      char buf[INET_ADDRSTRLEN];
      ::inet_ntop(AF_INET, value, buf, sizeof buf);
      o.put(buf);
      break;
    }
    case Kind::Bytes:
      for (size_t i = 0; i < item.size; ++i) {
        std::snprintf(tmp, sizeof tmp, "%02x", value[i]);
        o.put(tmp);
      }
      break;
    case Kind::Text:
      o.put('"');
      for (size_t i = 0; i + 1 < item.size && value[i]; ++i) {
        unsigned char c = value[i];
        if (c == '\\' || c == '"') {
          o.put('\\');
          o.put(static_cast<char>(c));
        } else if (c == '\n') {
          o.put("\\n");
        } else if (c == '\r') {
          o.put("\\r");
        } else if (c == '\t') {
          o.put("\\t");
        } else if (c < 0x20 || c == 0x7f) {
          std::snprintf(tmp, sizeof tmp, "\\x%02x", c);
          o.put(tmp);
        } else {
          o.put(static_cast<char>(c));
        }
      }
      o.put('"');
      break;
  }
  return o.finish();
}

Line parse_line(std::string_view text) {
  Line l;
  text = trim(text);
  if (text.empty() || text.front() == '#') return l;
  l.kind = LineKind::Bad;
  if (text.front() == '!') {
    l.unreadable = true;
    text.remove_prefix(1);
  }
  size_t eq = text.find('=');
  std::string_view key = eq == std::string_view::npos ? text : text.substr(0, eq);
  if (!parse_key(key, l.key)) return l;
  if (eq != std::string_view::npos) {
    if (!parse_value(*l.key.item, text.substr(eq + 1), l.value)) return l;
    l.has_value = true;
  } else if (!l.unreadable) {
    return l;  // a readable item needs a value
  }
  l.kind = LineKind::Entry;
  return l;
}

Value *slot_of(Table &t, const Key &k) {
  if (!k.item) return nullptr;
  size_t i = static_cast<size_t>(k.item - kItems);
  if (!k.item->per_wlan) return &t.v[i][0];
  if (k.radio < 0 || k.radio >= kRadios || k.slot < 0 || k.slot >= kSlots) return nullptr;
  return &t.v[i][k.radio * kSlots + k.slot];
}

void set_value(Value &v, const Item &it, const uint8_t *value) {
  std::memset(v.data, 0, sizeof v.data);
  if (it.kind == Kind::Text) {
    size_t n = ::strnlen(reinterpret_cast<const char *>(value), it.size - 1u);
    std::memcpy(v.data, value, n);
  } else {
    std::memcpy(v.data, value, it.size);
  }
  v.present = true;
}

void load(std::string_view all, Table &t, const char *name) {
  std::memset(&t, 0, sizeof t);
  int lineno = 0;
  while (!all.empty()) {
    size_t nl = all.find('\n');
    std::string_view line = all.substr(0, nl);
    all.remove_prefix(nl == std::string_view::npos ? all.size() : nl + 1);
    ++lineno;
    Line l = parse_line(line);
    if (l.kind == LineKind::Bad) {
      std::fprintf(stderr, "apmib: %s:%d: line ignored\n", name, lineno);
      continue;
    }
    if (l.kind != LineKind::Entry) continue;
    Value *v = slot_of(t, l.key);
    if (l.has_value) set_value(*v, *l.key.item, l.value);
    v->unreadable = l.unreadable;
    v->present = true;
  }
}

char *render(const Table &t, size_t *len) {
  size_t cap = 4096 + kItemCount * kSlotsPerItem * (kMaxValue * 4 + 64);
  char *buf = static_cast<char *>(std::malloc(cap));
  if (!buf) return nullptr;
  Out o{buf, cap};
  o.put("# brim configuration store: KEY = VALUE, one per line; \"!\" before a key makes reads fail\n");
  for (size_t i = 0; i < kItemCount; ++i) {
    const Item &it = kItems[i];
    for (size_t s = 0; s < (it.per_wlan ? kSlotsPerItem : 1); ++s) {
      const Value &v = t.v[i][s];
      if (!v.present && !v.unreadable) continue;
      char key[64], val[kMaxValue * 4 + 8];
      if (format_key(it, static_cast<int>(s / kSlots), static_cast<int>(s % kSlots), key, sizeof key) < 0 ||
          format_value(it, v.data, val, sizeof val) < 0)
        continue;
      if (v.unreadable) o.put('!');
      o.put(key);
      o.put(" = ");
      o.put(val);
      o.put('\n');
    }
  }
  *len = o.n;
  if (o.finish() < 0) {
    std::free(buf);
    return nullptr;
  }
  return buf;
}

namespace {

// Reads what `fd` holds, up to the largest store we accept.
bool read_fd(int fd, Table &t, const char *name) {
  char *buf = static_cast<char *>(std::malloc(kMaxFile));
  if (!buf) return false;
  size_t len = 0;
  bool ok = true;
  while (len < kMaxFile) {
    ssize_t r = ::read(fd, buf + len, kMaxFile - len);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) ok = false;
    if (r <= 0) break;
    len += static_cast<size_t>(r);
  }
  if (ok) load(std::string_view(buf, len), t, name);
  std::free(buf);
  return ok;
}

// An exclusive lock on the file now at `path`. A commit replaces the file, so a lock taken on the
// file it replaced guards nothing: check that the locked file is still the one the path names.
brim::unique_fd lock_store(const char *path) {
  for (int tries = 0; tries < 100; ++tries) {
    brim::unique_fd fd(::open(path, O_RDONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd) return fd;
    int rc;
    while ((rc = ::flock(fd.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (rc != 0) return brim::unique_fd();
    struct stat held, named;
    if (::fstat(fd.get(), &held) != 0) return brim::unique_fd();
    if (::stat(path, &named) == 0 && held.st_dev == named.st_dev && held.st_ino == named.st_ino) return fd;
  }
  return brim::unique_fd();
}

}  // namespace

bool read_file(const char *path, Table &t) {
  brim::unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
  return fd && read_fd(fd.get(), t, path);
}

bool write_atomic(const char *path, const char *body, size_t len, bool locked) {
  // Under the store's lock one fixed name serves, and a writer killed before its rename leaves at
  // most that one file, which the next commit reuses. Unlocked writers each need their own.
  char tmp[512];
  int n = locked ? std::snprintf(tmp, sizeof tmp, "%s.tmp", path)
                 : std::snprintf(tmp, sizeof tmp, "%s.tmp%d", path, static_cast<int>(::getpid()));
  if (n < 0 || static_cast<size_t>(n) >= sizeof tmp) return false;
  brim::unique_fd fd(::open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return false;
  bool ok = write_all(fd.get(), body, len) && ::fsync(fd.get()) == 0;
  fd.reset();
  if (!ok || ::rename(tmp, path) != 0) {
    ::unlink(tmp);
    return false;
  }
  return true;
}

bool rewrite(const char *path, bool (*edit)(Table &fresh, void *ctx), void *ctx, Table *result) {
  brim::unique_fd lock = lock_store(path);
  if (!lock) return false;
  Table *fresh = static_cast<Table *>(std::malloc(sizeof(Table)));
  if (!fresh) return false;
  bool ok = read_fd(lock.get(), *fresh, path) && edit(*fresh, ctx);
  size_t len = 0;
  char *body = ok ? render(*fresh, &len) : nullptr;
  ok = body && write_atomic(path, body, len, true);
  std::free(body);
  if (ok && result) std::memcpy(result, fresh, sizeof(Table));
  std::free(fresh);
  return ok;  // the lock goes with its descriptor
}

const char *store_path() {
  const char *p = std::getenv("APMIB_STORE");
  return (p && *p) ? p : kDefaultStore;
}

}  // namespace apmib
