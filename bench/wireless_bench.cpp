// getRepeaterStatus against the least any such query can do: one datagram socket, the wireless
// test and the association request as two raw ioctls, close. Both run against the driver double
// (linked in with --wrap=ioctl), so the figure is the library's own overhead.
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "bench/bench.h"
#include "brimlib.h"
#include "tests/support/wireless_double.h"

namespace {

int raw_repeater_query(const char *name) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  struct iwreq wrq;
  std::memset(&wrq, 0, sizeof wrq);
  std::strcpy(wrq.ifr_name, name);
  int rc = ioctl(fd, SIOCGIWNAME, &wrq);
  BssInfoRecord rec;
  if (rc == 0) {
    std::memset(&wrq, 0, sizeof wrq);
    std::strcpy(wrq.ifr_name, name);
    wrq.u.data.pointer = &rec;
    wrq.u.data.length = sizeof rec;
    rc = ioctl(fd, SIOC_WL_BSS_INFO, &wrq);
  }
  close(fd);
  return rc == 0 && rec.state == 4 ? 1 : 0;
}

}  // namespace

int main() {
  std::vector<uint8_t> rec(44, 0);
  rec[0] = 4;
  wireless_double::declare("wlan0-vxd").bss_info = rec;
  if (getRepeaterStatus("wlan0-vxd") != 1 || raw_repeater_query("wlan0-vxd") != 1) {
    std::fprintf(stderr, "wireless_bench: the driver double did not answer\n");
    return 1;
  }
  auto [ours, anchor] = bench::side_by_side(
      15, 2000,
      [] {
        getRepeaterStatus("wlan0-vxd");
        wireless_double::clear_log();
      },
      [] {
        raw_repeater_query("wlan0-vxd");
        wireless_double::clear_log();
      });
  bench::report("getRepeaterStatus latency / two raw ioctls", ours / 1000, anchor / 1000, "us", "<= 1.5");
  return 0;
}
