// Configuration store stand-in: the schema, the text form of the store file, and tables of
// values. The closed store library is not available off the router; this one keeps exactly its
// calls and value forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace apmib {

enum class Kind : uint8_t { Int, Ip, Text, Bytes };

struct Item {
  int id;
  const char *name;
  Kind kind;
  uint8_t size;   // Int/Ip: 4; Text: capacity with the terminator; Bytes: the byte count
  bool per_wlan;  // resolved against wlan_idx/vwlan_idx
};

constexpr int kRadios = 2;
constexpr int kSlots = 6;            // root, va0..va3, and slot 5 shared by va4 and vxd
constexpr int kMaxValue = 128;       // largest value of any item, in bytes

const Item *find_item(int id);
const Item *find_item(std::string_view name_or_id);
const Item *items(size_t *count);

// A key in the store file: "[wlanR[-vaN|-vxd].]NAME" where NAME is a schema name or an id.
struct Key {
  const Item *item = nullptr;
  int radio = 0;
  int slot = 0;
};
bool parse_key(std::string_view text, Key &out);
// Writes the key text for an item and slot; returns its length or -1 when it does not fit.
int format_key(const Item &item, int radio, int slot, char *out, size_t cap);

// Value text <-> bytes. Texts are written in double quotes with C escapes, so every byte
// survives a round trip through the file.
bool parse_value(const Item &item, std::string_view text, uint8_t (&out)[kMaxValue]);
int format_value(const Item &item, const uint8_t *value, char *out, size_t cap);

// One line of the store file.
enum class LineKind { Blank, Entry, Bad };
struct Line {
  LineKind kind = LineKind::Blank;
  Key key;
  bool unreadable = false;  // "!" before the key: reads of this item fail
  bool has_value = false;
  uint8_t value[kMaxValue] = {};
};
Line parse_line(std::string_view text);

// Every value of one store: one per item and interface (global items use slot 0 only).
struct Value {
  bool present;     // written to the file
  bool unreadable;  // reads fail ("!" before the key)
  bool dirty;       // set by this process since its last commit
  uint8_t data[kMaxValue];
};
constexpr size_t kItemCount = 46;
struct Table {
  Value v[kItemCount][kRadios * kSlots];
};
// The value of `key` in `t`; nullptr for an interface out of range.
Value *slot_of(Table &t, const Key &key);
// Stores `value` in the form of the item (texts cut to fit); marks the value present.
void set_value(Value &v, const Item &it, const uint8_t *value);

// A whole store file's text into `t` (cleared first). Bad lines are skipped and named on stderr
// with `name` and their line number.
void load(std::string_view text, Table &t, const char *name);
// The text form of `t`, in a heap buffer the caller frees; nullptr when out of memory.
char *render(const Table &t, size_t *len);
// Reads the store file at `path` into `t`; false when it cannot be read.
bool read_file(const char *path, Table &t);
// Replaces `path` by `body` through a temporary file and a rename: never a torn file. `locked`:
// the caller holds the store's lock (see rewrite).
bool write_atomic(const char *path, const char *body, size_t len, bool locked);
// Changes the store file at `path` under an exclusive lock on it: reads the file afresh into a
// table, lets `edit` change it, then replaces the file atomically. Concurrent rewrites run one
// after the other, each over the result of the one before. On success the table written is copied
// to `result` (when given). false, with the file left as it was, when any step fails or `edit`
// returns false.
bool rewrite(const char *path, bool (*edit)(Table &fresh, void *ctx), void *ctx, Table *result);
// The store file: APMIB_STORE, or /etc/apmib.store.
const char *store_path();

// This process's copy of the store, as loaded by apmib_init, in its text form (for tests).
bool dump(int fd);

}  // namespace apmib
