// The router's Ethernet driver, for its one request that a veth port lacks: the WAN link
// (SIOCDEVPRIVATE with a DevPrivateArgs block whose command is ETH_CMD_GET_WAN_LINK). The real
// driver answers from the port's PHY; this one answers from the port's carrier as the kernel
// keeps it (/sys/class/net/<port>/carrier, the IFF_LOWER_UP of the interface), so taking the far
// end of the cable down shows as no link. It answers for the Ethernet ports ("eth" and digits);
// every other request, and that request for any other interface, goes on to the C library.
//
// It is loaded ahead of everything else into the simulated router's processes through the
// sandbox's /etc/ld.so.preload, and so it must stay small: it exports ioctl and nothing else,
// allocates nothing, keeps no state but the next ioctl in line, and is never built with the
// sanitizers (a sanitizer runtime pulled in by a preloaded library breaks every program that was
// not built with it).
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "brimlib/common/unique_fd.h"

namespace {

// The request parameter as the C library declares it (unsigned long in glibc).
using request_t = unsigned long;
using ioctl_fn = int (*)(int, request_t, ...);

constexpr request_t kDevPrivate = 0x89F0;  // SIOCDEVPRIVATE
constexpr uintptr_t kGetWanLink = 2000;    // ETH_CMD_GET_WAN_LINK
constexpr int32_t kLink = 0;
constexpr int32_t kNoLink = -1;

ioctl_fn g_next = nullptr;

// The ioctl that this one hides (the C library's, or a sanitizer's interceptor in front of it).
ioctl_fn next_ioctl() {
  ioctl_fn f = __atomic_load_n(&g_next, __ATOMIC_ACQUIRE);
  if (f == nullptr) {
    // Two threads may both look it up; they find the same function.
    f = reinterpret_cast<ioctl_fn>(::dlsym(RTLD_NEXT, "ioctl"));
    __atomic_store_n(&g_next, f, __ATOMIC_RELEASE);
  }
  return f;
}

int pass_on(int fd, request_t request, void *arg) {
  ioctl_fn next = next_ioctl();
  if (next == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return next(fd, request, arg);
}

// "eth" and one or more digits, terminated within the request's name field.
bool ethernet_port(const char (&name)[IFNAMSIZ]) {
  if (std::strncmp(name, "eth", 3) != 0) return false;
  size_t i = 3;
  while (i < IFNAMSIZ && name[i] >= '0' && name[i] <= '9') ++i;
  return i > 3 && i < IFNAMSIZ && name[i] == '\0';
}

// The kernel's carrier of the port; a port that is down has none (the kernel then refuses to
// read the file at all).
bool has_carrier(const char *port) {
  char path[64];
  std::snprintf(path, sizeof path, "/sys/class/net/%s/carrier", port);
  brim::unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char c = 0;
  ssize_t n;
  do {
    n = ::read(fd.get(), &c, 1);
  } while (n < 0 && errno == EINTR);
  return n == 1 && c == '1';
}

int wan_link(int fd, request_t request, struct ifreq *ifr) {
  uintptr_t words[4];
  std::memcpy(words, ifr->ifr_data, sizeof words);
  if (words[0] != kGetWanLink) return pass_on(fd, request, ifr);
  // The port is looked up on the caller's socket, as the driver's request is: a descriptor that
  // is not a socket, or a port that does not exist, fails as the kernel makes it fail.
  struct ifreq probe;
  std::memset(&probe, 0, sizeof probe);
  std::memcpy(probe.ifr_name, ifr->ifr_name, IFNAMSIZ);
  if (pass_on(fd, SIOCGIFINDEX, &probe) != 0) return -1;
  if (words[3] == 0) {
    errno = EFAULT;
    return -1;
  }
  int32_t state = has_carrier(ifr->ifr_name) ? kLink : kNoLink;
  std::memcpy(reinterpret_cast<void *>(words[3]), &state, sizeof state);
  return 0;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int ioctl(int fd, request_t request, ...);

extern "C" int ioctl(int fd, request_t request, ...) {
  va_list ap;
  va_start(ap, request);
  void *arg = va_arg(ap, void *);
  va_end(ap);
  if (request == kDevPrivate && arg != nullptr) {
    auto *ifr = static_cast<struct ifreq *>(arg);
    if (ifr->ifr_data != nullptr && ethernet_port(ifr->ifr_name)) return wan_link(fd, request, ifr);
  }
  return pass_on(fd, request, arg);
}
