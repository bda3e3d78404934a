// Walks the DHCP server's lease records one at a time, rendering each used one as texts.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "brimlib.h"
#include "brimlib/common/leading_int.h"

// The record is raw data written by another program: its layout is fixed, on every target.
static_assert(sizeof(DhcpLeaseRecord) == 92);
static_assert(alignof(DhcpLeaseRecord) <= 4);
static_assert(offsetof(DhcpLeaseRecord, chaddr) == 0);
static_assert(offsetof(DhcpLeaseRecord, yiaddr) == 16);
static_assert(offsetof(DhcpLeaseRecord, expires) == 20);
static_assert(offsetof(DhcpLeaseRecord, hostname) == 24);
static_assert(offsetof(DhcpLeaseRecord, hostname_len) == 80);

extern "C" int getOneDhcpClient(char **cursor, uint32_t *left, char *ip, char *mac, char *lease, char *host) {
  if (cursor == nullptr || left == nullptr || *cursor == nullptr) return -1;
  if (*left < sizeof(DhcpLeaseRecord)) return -1;
  DhcpLeaseRecord rec;
  std::memcpy(&rec, *cursor, sizeof rec);  // the data need not be aligned
  *cursor += sizeof rec;
  *left -= sizeof rec;

  if (rec.expires == 0) return 0;
  static constexpr uint8_t kNoHw[sizeof rec.chaddr] = {};
  if (std::memcmp(rec.chaddr, kNoHw, sizeof kNoHw) == 0) return 0;

  struct in_addr addr;
  addr.s_addr = rec.yiaddr;
  if (inet_ntop(AF_INET, &addr, ip, BRIM_LEASE_IP_SIZE) == nullptr) *ip = '\0';
  std::snprintf(mac, BRIM_LEASE_MAC_SIZE, "%02X:%02X:%02X:%02X:%02X:%02X", rec.chaddr[0], rec.chaddr[1], rec.chaddr[2],
                rec.chaddr[3], rec.chaddr[4], rec.chaddr[5]);
  if (rec.expires == 0xFFFFFFFFu)
    std::snprintf(lease, BRIM_LEASE_TIME_SIZE, "MM_Always");
  else {
    // Ten-digit lease times do not fit the caller's field: they are cut to the first nine.
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(ntohl(rec.expires)));
    std::snprintf(lease, BRIM_LEASE_TIME_SIZE, "%.9s", digits);
  }

  std::memset(host, 0, BRIM_LEASE_HOST_SIZE);
  // Only the length field's own 12 bytes are read; a length beyond the name field copies the
  // field, and a negative one counts as no name.
  int32_t n = brim::leading_int(std::string_view(rec.hostname_len, sizeof rec.hostname_len));
  if (n <= 0) {
    std::memcpy(host, "Unknown", 8);
  } else {
    size_t take = static_cast<size_t>(n) < sizeof rec.hostname ? static_cast<size_t>(n) : sizeof rec.hostname;
    std::memcpy(host, rec.hostname, take);
    host[take] = '\0';
  }
  return 1;
}
