// Configuration store stand-in: the schema, the text form of the store file, and the
// in-memory values behind apmib_get/apmib_set. The closed store library is not available
// off the router; this one keeps exactly its calls and value forms.
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

// The stand-in's own extras, for the command-line tool and the tests.
const char *store_path();
bool mark_unreadable(const Key &key, bool unreadable);
bool get_slot(const Key &key, uint8_t (&out)[kMaxValue], bool *unreadable);
bool set_slot(const Key &key, const uint8_t *value);
bool save(const char *path);
// Writes the store's text form to an open descriptor (for "apmib show").
bool dump(int fd);

}  // namespace apmib
