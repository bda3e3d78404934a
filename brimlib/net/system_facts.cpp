// Facts about the device itself: uptime, flash size, switch port links.
#include "brimlib/net/system_facts.h"

#include <sys/sysinfo.h>

#include <cstdio>
#include <cstring>

#include "brimlib.h"
#include "brimlib/common/unique_fd.h"
#include "brimlib/files/readers.h"

namespace brim {

void format_uptime(uint32_t u, char *buf, size_t cap) {
  std::snprintf(buf, cap, "%d;%d;%d;%d", static_cast<int>(u / 86400), static_cast<int>(u % 86400 / 3600),
                static_cast<int>(u % 3600 / 60), static_cast<int>(u % 60));
}

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A size field read as "%x" reads it: leading blanks, an optional 0x, hex digits. No digits (or a
// sign, which a size cannot carry) gives 0.
uint32_t read_hex(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) i += 2;
  uint32_t v = 0;
  for (; i < s.size() && hex_digit(s[i]) >= 0; ++i) v = (v << 4) | static_cast<uint32_t>(hex_digit(s[i]));
  return v;
}

}  // namespace

uint32_t flash_size_mib(std::string_view listing) {
  uint32_t units = 0;  // 64 KiB each: the first four of the eight size digits
  for (std::string_view name : {"mtd0:", "mtd1:", "mtd2:"}) {
    size_t at = listing.find(name);
    if (at == std::string_view::npos) continue;
    size_t start = at + 6;  // past the name, the colon and one blank
    if (start >= listing.size()) continue;
    units += read_hex(listing.substr(start, 4));
  }
  return units >> 4;
}

PortLine classify_port_line(std::string_view line) {
  if (line.find("Port") != std::string_view::npos) return PortLine::Skip;
  size_t link = line.find("Link");
  if (link == std::string_view::npos) return PortLine::Stop;
  return line.find("Up", link) != std::string_view::npos ? PortLine::Up : PortLine::Down;
}

}  // namespace brim

extern "C" {

char *getSysUptime(void) {
  static char text[32];
  struct sysinfo info;
  std::memset(&info, 0, sizeof info);
  uint32_t u = ::sysinfo(&info) == 0 ? static_cast<uint32_t>(info.uptime) : 0;
  brim::format_uptime(u, text, sizeof text);
  return text;
}

unsigned int getFlashSize(void) {
  char listing[1024];
  std::memset(listing, 0, sizeof listing);
  BrimSystem("cat /proc/mtd > /tmp/FlashSize", 0);
  brim::unique_file fp(std::fopen("/tmp/FlashSize", "re"));
  if (!fp) return 0;
  // Bounded, so that a listing longer than the buffer is cut rather than overrunning it.
  brim::read_stream(fp.get(), listing, sizeof listing - 1, false);
  size_t len = std::strlen(listing);
  if (len < 4) {
    std::printf("[Debug] get data from /tmp/FlashSize error!\n");
    fp.reset();
    BrimSystem("rm -f /tmp/FlashSize", 0);
    return 0;
  }
  uint32_t mib = brim::flash_size_mib(std::string_view(listing, len));
  fp.reset();
  BrimSystem("rm -f /tmp/FlashSize", 0);
  return mib;
}

char *getPortLinkStaus(void) {
  // Two characters per port and the terminator.
  static char text[2 * brim::kMaxPorts + 1];
  std::memset(text, 0, sizeof text);
  char line[1024];
  std::memset(line, 0, sizeof line);
  BrimSystem("cat /proc/rtl865x/port_status | grep Link > /tmp/port_status", 0);
  brim::unique_file fp(std::fopen("/tmp/port_status", "re"));
  if (!fp) return nullptr;
  size_t used = 0;
  while (used + 2 < sizeof text && std::fgets(line, 512, fp.get()) != nullptr) {
    brim::PortLine what = brim::classify_port_line(std::string_view(line, std::strlen(line)));
    if (what == brim::PortLine::Skip) continue;
    if (what == brim::PortLine::Stop) break;
    text[used++] = what == brim::PortLine::Up ? '1' : '0';
    text[used++] = ',';
  }
  return text;
}

}  // extern "C"
