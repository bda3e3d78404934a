// Live state from the wireless driver: one throw-away datagram socket per query, the standard
// SIOCGIWNAME request as the "is it wireless?" test, then one private request of the driver.
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "brimlib.h"
#include "brimlib/common/ifname.h"
#include "brimlib/common/unique_fd.h"

// The driver sees these exact layouts; they hold on every target (no member needs padding).
static_assert(sizeof(StaInfoTable) == 3120);
static_assert(sizeof(SiteSurveyBuffer) == 11268);
static_assert(sizeof(BssInfoRecord) == 44);
static_assert(offsetof(BssInfoRecord, state) == 0);
static_assert(offsetof(BssInfoRecord, rssi) == 9);
// The request block: the name in the first 16 bytes, the data descriptor right after it.
static_assert(IFNAMSIZ == 16);
static_assert(offsetof(struct iwreq, u.data.pointer) == IFNAMSIZ);
static_assert(sizeof(((struct iwreq *)nullptr)->u.data.length) == 2);

namespace {

constexpr uint16_t kStaInfoLen = sizeof(StaInfoTable);
constexpr uint16_t kSurveyLen = sizeof(SiteSurveyBuffer);
constexpr uint16_t kBssInfoLen = sizeof(BssInfoRecord);

// A socket on which SIOCGIWNAME succeeded for `ifname`, or an empty owner.
brim::unique_fd open_wireless(const char *ifname) {
  if (!brim::is_plain_ifname(ifname)) return brim::unique_fd();
  brim::unique_fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) return fd;
  struct iwreq wrq;
  std::memset(&wrq, 0, sizeof wrq);
  if (iw_get_ext(fd.get(), ifname, SIOCGIWNAME, &wrq) < 0) fd.reset();
  return fd;
}

// Issues `request` with a fresh block describing `len` bytes at `data`; 0 or -1.
int private_request(int fd, const char *ifname, int request, void *data, uint16_t len) {
  struct iwreq wrq;
  std::memset(&wrq, 0, sizeof wrq);
  wrq.u.data.pointer = data;
  wrq.u.data.length = len;
  wrq.u.data.flags = 0;
  return iw_get_ext(fd, ifname, request, &wrq) < 0 ? -1 : 0;
}

// One whole query: wireless test, then the private request; the socket closes on every path.
int driver_query(const char *ifname, int request, void *data, uint16_t len) {
  brim::unique_fd fd = open_wireless(ifname);
  if (!fd) return -1;
  return private_request(fd.get(), ifname, request, data, len);
}

// Connection state byte of the association record to getRepeaterStatus's result.
constexpr int repeater_result(uint8_t state) {
  switch (state) {
    case 0:
    case 1:
    case 3:
      return 0;
    case 4:
      return 1;
    default:  // 2, 5 and anything the driver adds later: not connected
      return -1;
  }
}
static_assert(repeater_result(4) == 1 && repeater_result(2) == -1 && repeater_result(255) == -1);

}  // namespace

extern "C" {

// The one place that issues Wireless Extensions requests.
int iw_get_ext(int skfd, const char *ifname, int request, struct iwreq *wrq) {
  if (wrq == nullptr || !brim::is_plain_ifname(ifname)) {
    errno = EINVAL;
    return -1;
  }
  std::memset(wrq->ifr_name, 0, sizeof wrq->ifr_name);
  std::memcpy(wrq->ifr_name, ifname, std::strlen(ifname));  // at most 15: the terminator stays
  return ::ioctl(skfd, static_cast<unsigned int>(request), wrq);
}

int getWlStaInfo(const char *ifname, StaInfoTable *table) {
  if (table == nullptr) return -1;
  brim::unique_fd fd = open_wireless(ifname);
  if (!fd) return -1;
  // Cleared only once the interface is known to be wireless; the driver may fill less.
  std::memset(table, 0, sizeof *table);
  return private_request(fd.get(), ifname, SIOC_WL_STA_INFO, table, kStaInfoLen);
}

int getStaAssociatedNum(const char *ifname) {
  uint16_t count = 0;
  if (driver_query(ifname, SIOC_WL_STA_NUM, &count, sizeof count) < 0) return -1;
  return count;  // unsigned: 0x8000 and above are counts too, never negative
}

int getWlSiteSurveyRequest(const char *ifname, int32_t *status) {
  if (status == nullptr) return -1;
  uint8_t byte = 0;
  if (driver_query(ifname, SIOC_WL_SCAN_REQ, &byte, sizeof byte) < 0) return -1;
  *status = byte == 0xFF ? -1 : byte;
  return 0;
}

int getWlSiteSurveyResult(const char *ifname, SiteSurveyBuffer *buf) {
  if (buf == nullptr) return -1;
  uint16_t len = buf->bytes[0] == 0 ? kSurveyLen : 1;
  return driver_query(ifname, SIOC_WL_SCAN_RESULT, buf, len);
}

int getWlJoinResult(const char *ifname, unsigned char *result) {
  if (result == nullptr) return -1;
  return driver_query(ifname, SIOC_WL_JOIN_RESULT, result, 1);
}

int getWlBssInfo(const char *ifname, BssInfoRecord *info) {
  if (info == nullptr) return -1;
  return driver_query(ifname, SIOC_WL_BSS_INFO, info, kBssInfoLen);
}

int getRptStaAndRssi(const char *ifname) {
  BssInfoRecord rec;
  std::memset(&rec, 0, sizeof rec);
  if (getWlBssInfo(ifname, &rec) < 0) return 0;  // no record: no signal, never a stale byte
  return rec.rssi;
}

int getRepeaterStatus(const char *ifname) {
  BssInfoRecord rec;
  std::memset(&rec, 0, sizeof rec);
  if (getWlBssInfo(ifname, &rec) < 0) return -1;  // unknown is never "connected"
  return repeater_result(rec.state);
}

}  // extern "C"
