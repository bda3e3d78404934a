// The library's own calls on the configuration store: every read (through scratch of any item's
// size), commit with export, LAN address readers, and the wireless selection that the store
// resolves wireless items against.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>

#include "brimlib.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

namespace brim {

bool read_item(int id, void *out, size_t cap) {
  alignas(8) unsigned char scratch[kItemScratch] = {};
  if (out == nullptr || !apmib_get(id, scratch)) return false;
  std::memcpy(out, scratch, cap < sizeof scratch ? cap : sizeof scratch);
  return true;
}

void read_text(int id, char *out, size_t cap) {
  char scratch[kItemScratch] = {};
  if (out == nullptr || cap == 0 || !apmib_get(id, scratch)) return;
  size_t n = ::strnlen(scratch, (cap < sizeof scratch ? cap : sizeof scratch) - 1);
  std::memcpy(out, scratch, n);
  out[n] = '\0';
}

int32_t read_int(int id, int32_t fallback) {
  int32_t v = fallback;
  read_item(id, &v, sizeof v);
  return v;
}

}  // namespace brim

extern "C" {

int32_t wlan_idx = 0;
int32_t vwlan_idx = 0;

int apmib_update_web(int type) {
  int rc = apmib_update(type);
  if (rc == 0) return 0;
  if (type & 4) save_vz_to_file();
  return rc;
}

}  // extern "C"

namespace {

char *address_item_text(int id, char *buf) {
  struct in_addr a;
  a.s_addr = 0;
  brim::read_item(id, &a, sizeof a);
  // Copied out of inet_ntoa's own buffer at once.
  std::snprintf(buf, BRIM_IPV4_TEXT_SIZE, "%s", ::inet_ntoa(a));
  return buf;
}

}  // namespace

extern "C" char *getLanIp(char *buf) { return address_item_text(MIB_IP_ADDR, buf); }
extern "C" char *getLanNetmask(char *buf) { return address_item_text(MIB_SUBNET_MASK, buf); }
