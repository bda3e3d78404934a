// The wireless driver double: see wireless_double.h. Linked only into test programs, which are
// built with -Wl,--wrap=ioctl; the shipped library and executable never see it.
#include "tests/support/wireless_double.h"

#include <fcntl.h>
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#if defined(__USE_TIME_BITS64) || defined(__USE_TIME64_REDIRECTS)
// The C library then renames ioctl, and --wrap=ioctl would catch nothing.
#error "the ioctl interposition needs the C library's plain ioctl symbol"
#endif

namespace {

// The second parameter of the C library's own ioctl prototype (unsigned long in glibc, int in
// others), so the wrapper receives the request exactly as callers pass it.
template <typename R, typename Fd, typename Req, bool NoExcept>
Req request_param(R (*)(Fd, Req, ...) noexcept(NoExcept));
using request_t = decltype(request_param(&::ioctl));

constexpr unsigned kIfFirst = 0x8910, kWextFirst = 0x8B00, kWextLast = 0x8BFF, kDevPrivate = 0x89F0;  // SIOCDEVPRIVATE
constexpr unsigned kStaInfo = 0x8B30, kStaNum = 0x8B31, kScanReq = 0x8B33, kScanResult = 0x8B34, kJoinResult = 0x8B36,
                   kBssInfo = 0x8B37;
constexpr uint16_t kStaInfoLen = 3120, kSurveyLen = 11268, kBssInfoLen = 44;
constexpr uintptr_t kEthGetWanLink = 2000;

struct State {
  std::map<std::string, wireless_double::Radio> radios;
  std::map<std::string, wireless_double::EthPort> eth_ports;
  std::vector<wireless_double::Seen> log;
  std::vector<std::string> violations;
};

State &state() {
  static State s;
  return s;
}

int refuse(const std::string &why) { return state().violations.push_back(why), errno = EINVAL, -1; }

// The private request of a declared interface: the length the driver needs and the bytes it writes.
int driver(wireless_double::Radio &r, const wireless_double::Seen &s) {
  const auto *first = static_cast<const uint8_t *>(s.pointer);
  const auto *num = reinterpret_cast<const uint8_t *>(&r.sta_num);
  std::vector<uint8_t> bytes;
  uint16_t want = 0;
  switch (s.request) {
    case kStaInfo: want = kStaInfoLen, bytes = r.sta_info; break;
    case kStaNum: want = sizeof r.sta_num, bytes.assign(num, num + sizeof r.sta_num); break;
    case kScanReq: want = 1, bytes = {r.scan_status}; break;
    case kJoinResult: want = 1, bytes = {r.join_result}; break;
    // The caller's first byte: 0 asks for the whole buffer, else for one byte.
    case kScanResult: want = first != nullptr && *first != 0 ? 1 : kSurveyLen, bytes = r.survey; break;
    case kBssInfo: want = kBssInfoLen, bytes = r.bss_info; break;
    default: return refuse(s.name + ": request " + std::to_string(s.request) + " is not the driver's");
  }
  const std::string what = s.name + ": request " + std::to_string(s.request);
  if (s.pointer == nullptr) return refuse(what + " without data");
  if (s.length != want) return refuse(what + " length " + std::to_string(s.length) + ", driver needs " + std::to_string(want));
  if (s.flags != 0) return refuse(what + " flags not 0");
  if (auto f = r.fail.find(s.request); f != r.fail.end()) return errno = f->second, -1;
  if (!bytes.empty()) std::memcpy(const_cast<void *>(s.pointer), bytes.data(), std::min<size_t>(bytes.size(), want));
  return 0;
}

int eth_driver(wireless_double::EthPort &port, const wireless_double::Seen &s) {
  uintptr_t words[4];
  if (s.pointer == nullptr) return refuse(s.name + ": device-private request without a block");
  std::memcpy(words, s.pointer, sizeof words);
  if (words[0] != kEthGetWanLink)
    return refuse(s.name + ": device-private command " + std::to_string(words[0]) + " is not the driver's");
  if (words[1] != reinterpret_cast<uintptr_t>(s.pointer)) return refuse(s.name + ": block does not point at itself");
  if (words[2] != 0) return refuse(s.name + ": third word of the block not 0");
  if (words[3] == 0) return refuse(s.name + ": no link state word");
  if (s.type < 0 || port.fail != 0) return errno = s.type < 0 ? ENOTTY : port.fail, -1;
  std::memcpy(reinterpret_cast<void *>(words[3]), &port.link_state, sizeof port.link_state);
  return 0;
}

void note_socket(int fd, wireless_double::Seen &s) {
  for (auto [opt, field] : {std::pair{SO_DOMAIN, &s.domain}, {SO_TYPE, &s.type}}) {
    int v = 0;
    socklen_t len = sizeof v;
    if (getsockopt(fd, SOL_SOCKET, opt, &v, &len) == 0) *field = v;
  }
  int fdflags = fcntl(fd, F_GETFD);
  s.cloexec = fdflags >= 0 && (fdflags & FD_CLOEXEC) != 0;
}

}  // namespace

extern "C" int __real_ioctl(int fd, request_t request, ...);

extern "C" int __wrap_ioctl(int fd, request_t request, ...) {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);

  unsigned nr = static_cast<unsigned>(request);
  const bool eth = nr == kDevPrivate && arg != nullptr;
  if (nr >= kIfFirst && nr < kDevPrivate && arg != nullptr)  // an interface request a declared name is to fail
    for (auto &[name, r] : state().radios)
      if (r.fail.count(nr) && std::strncmp(name.c_str(), static_cast<struct ifreq *>(arg)->ifr_name, IFNAMSIZ) == 0)
        return errno = r.fail[nr], -1;
  if (!eth && (nr < kWextFirst || nr > kWextLast)) return __real_ioctl(fd, request, arg);
  if (arg == nullptr) return refuse("request " + std::to_string(nr) + " without a request block");
  // Both blocks begin with the name; a Wireless Extensions block then holds the data's pointer,
  // length and flags, an ifreq for the Ethernet driver a pointer at its own block.
  auto *wrq = static_cast<struct iwreq *>(arg);
  const char *end = static_cast<const char *>(std::memchr(wrq->ifr_name, '\0', IFNAMSIZ));
  wireless_double::Seen s;
  s.request = nr;
  s.name.assign(wrq->ifr_name, end ? static_cast<size_t>(end - wrq->ifr_name) : IFNAMSIZ);
  if (eth) {
    s.pointer = static_cast<struct ifreq *>(arg)->ifr_data;
  } else {
    s.pointer = wrq->u.data.pointer, s.length = wrq->u.data.length, s.flags = wrq->u.data.flags;
  }
  note_socket(fd, s);
  int fdflags = fcntl(fd, F_GETFD);
  State &st = state();
  auto port = st.eth_ports.find(s.name);
  auto radio = st.radios.find(s.name);
  s.wireless = eth ? port != st.eth_ports.end() : radio != st.radios.end();  // answered by the double
  st.log.push_back(s);
  if (end == nullptr) return refuse("name not terminated within " + std::to_string(IFNAMSIZ) + " bytes");
  if (!s.wireless) return __real_ioctl(fd, request, arg);
  if (eth) return eth_driver(port->second, s);

  // What the kernel would refuse before any driver sees the request.
  if (fdflags < 0 || s.type < 0) return errno = fdflags < 0 ? EBADF : ENOTTY, -1;
  if (nr == SIOCGIWNAME) {
    std::memset(wrq->u.name, 0, sizeof wrq->u.name);
    std::strcpy(wrq->u.name, "IEEE 802.11bgn");
    return 0;
  }
  return driver(radio->second, s);
}

namespace wireless_double {

Radio &declare(const std::string &name) { return state().radios[name] = Radio{}; }
EthPort &declare_ethernet(const std::string &name) { return state().eth_ports[name] = EthPort{}; }

void reset() { state() = State{}; }

const std::vector<Seen> &log() { return state().log; }
void clear_log() { state().log.clear(); }
const std::vector<std::string> &violations() { return state().violations; }
int count(const std::string &name, unsigned request) {
  int n = 0;
  for (const Seen &s : state().log) n += s.name == name && s.request == request;
  return n;
}

}  // namespace wireless_double
