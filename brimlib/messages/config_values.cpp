// Configuration items added to a cJSON object, one member per (name, id) pair.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

#include "brimlib.h"
#include "brimlib/config/store_read.h"

namespace {

void add_member(cJSON *object, const char *name, cJSON *item) {
  // cJSON does not take the item when it refuses it (a null name or object).
  if (item != nullptr && !cJSON_AddItemToObject(object, name, item)) cJSON_Delete(item);
}

bool walkable(int32_t count, const char *const *names, const int32_t *ids) {
  return count > 0 && names != nullptr && ids != nullptr;
}

}  // namespace

extern "C" {

int getCfgArrayIP(cJSON *object, int32_t count, const char *const *names, const int32_t *ids) {
  if (!walkable(count, names, ids)) return 0;
  for (int32_t i = 0; i < count; ++i) {
    // Cleared before each read, so an unreadable item shows 0.0.0.0, not its neighbour's address.
    struct in_addr a;
    a.s_addr = 0;
    brim::read_item(ids[i], &a, sizeof a);
    char text[BRIM_IPV4_TEXT_SIZE];
    std::snprintf(text, sizeof text, "%s", ::inet_ntoa(a));
    add_member(object, names[i], cJSON_CreateString(text));
  }
  return 0;
}

int getCfgArrayStr(cJSON *object, int32_t count, const char *const *names, const int32_t *ids) {
  if (!walkable(count, names, ids)) return 0;
  for (int32_t i = 0; i < count; ++i) {
    // Cleared before each read, so an unreadable item shows "", not its neighbour's text.
    char text[brim::kItemScratch] = {};
    brim::read_text(ids[i], text, sizeof text);
    add_member(object, names[i], cJSON_CreateString(text));
  }
  return 0;
}

int getCfgArrayInt(cJSON *object, int32_t count, const char *const *names, const int32_t *ids) {
  if (!walkable(count, names, ids)) return 0;
  // Set once: an unreadable item repeats the value read before it.
  int32_t value = 0;
  for (int32_t i = 0; i < count; ++i) {
    brim::read_item(ids[i], &value, sizeof value);
    add_member(object, names[i], cJSON_CreateNumber(value));
  }
  return 0;
}

}  // extern "C"
