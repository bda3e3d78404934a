// Configuration store stand-in, the library's calls: each process works on a copy of the store
// loaded by apmib_init, and a commit writes back only the values this process set, over the file
// as it is at that moment, so changes that other processes committed meanwhile survive.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "brimlib.h"
#include "platform/apmib/store.h"

namespace apmib {
namespace {

Table g_store;  // this process's copy
bool g_open = false;

constexpr const char *kDefaultExport = "/var/vz_settings.store";

Value *selected(int id) {
  Key k;
  k.item = find_item(id);
  k.radio = wlan_idx;  // symbols of the process: the library selects the interface
  k.slot = vwlan_idx;
  return slot_of(g_store, k);
}

bool write_back(Table &fresh, void *) {
  for (size_t i = 0; i < kItemCount; ++i)
    for (size_t s = 0; s < kRadios * kSlots; ++s) {
      const Value &mine = g_store.v[i][s];
      if (!mine.dirty) continue;
      // The value is ours; whether reads of it fail is the file's to say.
      std::memcpy(fresh.v[i][s].data, mine.data, sizeof mine.data);
      fresh.v[i][s].present = true;
    }
  return true;
}

bool write_table(const char *path, const Table &t) {
  size_t len = 0;
  char *body = render(t, &len);
  bool ok = body && write_atomic(path, body, len, false);
  std::free(body);
  return ok;
}

}  // namespace

bool dump(int fd) {
  size_t len = 0;
  char *body = render(g_store, &len);
  bool ok = body != nullptr;
  for (size_t done = 0; ok && done < len;) {
    ssize_t w = ::write(fd, body + done, len - done);
    if (w < 0 && errno == EINTR) continue;
    ok = w > 0;
    if (ok) done += static_cast<size_t>(w);
  }
  std::free(body);
  return ok;
}

}  // namespace apmib

using namespace apmib;

extern "C" {

int apmib_init(void) {
  g_open = read_file(store_path(), g_store);
  return g_open ? 1 : 0;
}

int apmib_get(int id, void *value) {
  if (!g_open || value == nullptr) return 0;
  const Item *it = find_item(id);
  Value *v = selected(id);
  if (!it || !v || v->unreadable) return 0;
  size_t n = it->size;
  if (it->kind == Kind::Text) n = ::strnlen(reinterpret_cast<const char *>(v->data), it->size - 1u) + 1;
  std::memcpy(value, v->data, n);
  return 1;
}

int apmib_set(int id, void *value) {
  if (!g_open || value == nullptr) return 0;
  const Item *it = find_item(id);
  Value *v = selected(id);
  if (!it || !v) return 0;
  set_value(*v, *it, static_cast<const uint8_t *>(value));
  v->dirty = true;
  return 1;
}

int apmib_update(int type) {
  (void)type;  // every kind commits
  if (!g_open) return 0;
  // Afterwards this process sees the store as committed, other processes' changes included.
  return rewrite(store_path(), write_back, nullptr, &g_store) ? 1 : 0;
}

int save_vz_to_file(void) {
  if (!g_open) return 0;
  const char *p = std::getenv("APMIB_EXPORT");
  return write_table((p && *p) ? p : kDefaultExport, g_store) ? 1 : 0;
}

}  // extern "C"
