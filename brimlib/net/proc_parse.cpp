// Line parsers for /proc/net/dev, /proc/net/arp, /proc/net/route and the resolver files.
#include "brimlib/net/proc_parse.h"

#include <charconv>
#include <cstddef>
#include <cstring>

namespace brim {
namespace {

// White space as isspace() has it in the C locale.
constexpr bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_space(std::string_view &s) {
  size_t i = 0;
  while (i < s.size() && is_space(s[i])) ++i;
  s.remove_prefix(i);
}

// The next white-space separated word of `s` (consumed), or false when none is left.
bool next_word(std::string_view &s, std::string_view &word) {
  skip_space(s);
  size_t i = 0;
  while (i < s.size() && !is_space(s[i])) ++i;
  if (i == 0) return false;
  word = std::string_view(s.data(), i);
  s.remove_prefix(i);
  return true;
}

// A whole word as a number; nothing else may be in it.
template <typename T>
bool whole_number(std::string_view word, T &out, int base = 10) {
  T v{};
  auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), v, base);
  if (ec != std::errc() || end != word.data() + word.size()) return false;
  out = v;
  return true;
}

// A counter as the kernel prints it: white space, then decimal digits (a sign is taken as
// strtoull takes it). Wraps modulo 2^64, so even absurd digit runs cannot overflow anything.
bool next_counter(std::string_view &s, uint64_t &out) {
  skip_space(s);
  size_t i = 0;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  if (i >= s.size() || !is_digit(s[i])) return false;
  uint64_t v = 0;
  for (; i < s.size() && is_digit(s[i]); ++i) v = v * 10 + static_cast<uint64_t>(s[i] - '0');
  s.remove_prefix(i);
  out = neg ? 0 - v : v;
  return true;
}

// Where a counter goes: byte offset in NetDevStats and whether the field is 64 bits wide.
struct Slot {
  size_t offset;
  bool wide;
};
#define BRIM_SLOT(field) Slot{offsetof(NetDevStats, field), sizeof(NetDevStats::field) == 8}

constexpr Slot kCompressedSlots[] = {
    BRIM_SLOT(rx_bytes),       BRIM_SLOT(rx_packets),      BRIM_SLOT(rx_errors),     BRIM_SLOT(rx_dropped),
    BRIM_SLOT(rx_fifo_errors), BRIM_SLOT(rx_frame_errors), BRIM_SLOT(rx_compressed), BRIM_SLOT(rx_multicast),
    BRIM_SLOT(tx_bytes),       BRIM_SLOT(tx_packets),      BRIM_SLOT(tx_errors),     BRIM_SLOT(tx_dropped),
    BRIM_SLOT(tx_fifo_errors), BRIM_SLOT(collisions),      BRIM_SLOT(tx_carrier_errors),
    BRIM_SLOT(tx_compressed),
};
constexpr Slot kBytesSlots[] = {
    BRIM_SLOT(rx_bytes),       BRIM_SLOT(rx_packets), BRIM_SLOT(rx_errors),         BRIM_SLOT(rx_dropped),
    BRIM_SLOT(rx_fifo_errors), BRIM_SLOT(rx_frame_errors), BRIM_SLOT(tx_bytes),     BRIM_SLOT(tx_packets),
    BRIM_SLOT(tx_errors),      BRIM_SLOT(tx_dropped), BRIM_SLOT(tx_fifo_errors),    BRIM_SLOT(collisions),
    BRIM_SLOT(tx_carrier_errors),
};
constexpr Slot kPlainSlots[] = {
    BRIM_SLOT(rx_packets), BRIM_SLOT(rx_errors),  BRIM_SLOT(rx_dropped),     BRIM_SLOT(rx_fifo_errors),
    BRIM_SLOT(rx_frame_errors), BRIM_SLOT(tx_packets), BRIM_SLOT(tx_errors), BRIM_SLOT(tx_dropped),
    BRIM_SLOT(tx_fifo_errors), BRIM_SLOT(collisions), BRIM_SLOT(tx_carrier_errors),
};
#undef BRIM_SLOT
static_assert(sizeof kCompressedSlots == 16 * sizeof(Slot) && sizeof kBytesSlots == 13 * sizeof(Slot) &&
              sizeof kPlainSlots == 11 * sizeof(Slot));

// The record is handed to the kernel-side tools of the target as is: fixed layout everywhere.
static_assert(sizeof(NetDevStats) == 120);
static_assert(offsetof(NetDevStats, rx_errors) == 32);
static_assert(offsetof(NetDevStats, rx_compressed) == 72);
static_assert(offsetof(NetDevStats, rx_frame_errors) == 96);
static_assert(offsetof(NetDevStats, tx_fifo_errors) == 116);

void store(NetDevStats &stats, Slot slot, uint64_t v) {
  auto *at = reinterpret_cast<unsigned char *>(&stats) + slot.offset;
  if (slot.wide) {
    std::memcpy(at, &v, sizeof v);
  } else {
    auto low = static_cast<uint32_t>(v);  // a 32-bit counter wraps as the kernel's own would
    std::memcpy(at, &low, sizeof low);
  }
}

template <size_t N>
void fill(const Slot (&slots)[N], std::string_view s, NetDevStats &stats) {
  for (const Slot &slot : slots) {
    uint64_t v = 0;
    if (!next_counter(s, v)) return;  // the rest keep what they held
    store(stats, slot, v);
  }
}

bool starts_with(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && std::string_view(s.data(), prefix.size()) == prefix;
}

}  // namespace

NetDevLayout netdev_layout(std::string_view second_header) {
  if (second_header.find("compressed") != std::string_view::npos) return NetDevLayout::Compressed;
  if (second_header.find("bytes") != std::string_view::npos) return NetDevLayout::Bytes;
  return NetDevLayout::Plain;
}

void split_netdev_line(std::string_view line, std::string_view &name, std::string_view &counters) {
  skip_space(line);
  size_t i = 0;
  while (i < line.size() && !is_space(line[i]) && line[i] != ':') ++i;
  name = std::string_view(line.data(), i);
  counters = std::string_view(line.data() + i, line.size() - i);
  if (i == line.size() || line[i] != ':') return;
  size_t j = i + 1;
  while (j < line.size() && is_digit(line[j])) ++j;
  if (j < line.size() && line[j] == ':') {  // an alias: the name keeps ":digits"
    name = std::string_view(line.data(), j);
    counters = std::string_view(line.data() + j + 1, line.size() - j - 1);
  } else {
    counters = std::string_view(line.data() + i + 1, line.size() - i - 1);
  }
}

void fill_netdev_counters(NetDevLayout layout, std::string_view counters, NetDevStats &stats) {
  switch (layout) {
    case NetDevLayout::Compressed:
      fill(kCompressedSlots, counters, stats);
      break;
    case NetDevLayout::Bytes:
      fill(kBytesSlots, counters, stats);
      stats.rx_multicast = 0;
      break;
    case NetDevLayout::Plain:
      fill(kPlainSlots, counters, stats);
      stats.rx_bytes = 0;
      stats.tx_bytes = 0;
      stats.rx_multicast = 0;
      break;
  }
}

bool parse_netdev_line(std::string_view line, std::string_view want, NetDevLayout layout, NetDevStats &stats) {
  std::string_view name, counters;
  split_netdev_line(line, name, counters);
  if (name != want) return false;
  fill_netdev_counters(layout, counters, stats);
  return true;
}

bool parse_arp_line(std::string_view line, std::string_view ip, std::string_view &mac) {
  std::string_view address, word;
  if (!next_word(line, address) || address == "IP" || address.size() > 15 || address != ip) return false;
  std::string_view hw;  // the fourth word; HW type and flags lie between
  if (next_word(line, word) && next_word(line, word) && next_word(line, word)) hw = word;
  if (hw.size() > 17) return false;
  mac = hw;
  return true;
}

bool parse_route_gateway_line(std::string_view line, std::string_view ifname, uint32_t &gateway) {
  // Interface, destination, gateway, flags (hex), reference count, use, metric, mask, MTU,
  // window, IRTT. Ten must read, as a route line missing only its IRTT still is one.
  std::string_view iface, dest, gw, mask, w;
  uint32_t flags = 0;
  int32_t number = 0;
  int values = 0;
  auto text = [&](std::string_view &out, size_t max) {
    if (!next_word(line, out) || out.size() > max) return false;
    ++values;
    return true;
  };
  auto hex = [&]() {
    if (!next_word(line, w) || !whole_number(w, flags, 16)) return false;
    ++values;
    return true;
  };
  auto dec = [&]() {
    if (!next_word(line, w) || !whole_number(w, number)) return false;
    ++values;
    return true;
  };
  (void)(text(iface, 16) && text(dest, 128) && text(gw, 128) && hex() && dec() && dec() && dec() &&
         text(mask, 128) && dec() && dec() && dec());
  if (values < 10) return false;
  if ((flags & (kRouteUp | kRouteGateway)) != (kRouteUp | kRouteGateway)) return false;
  if (iface != ifname) return false;
  uint32_t value = 0;
  if (!whole_number(gw, value, 16)) return false;
  gateway = value;
  return true;
}

bool parse_route_line(std::string_view line, RouteLine &route) {
  size_t cut = line.find_first_of(" \t");
  if (cut == std::string_view::npos) return false;
  line.remove_prefix(cut + 1);
  std::string_view w;
  uint32_t hexes[3] = {};
  int32_t decs[3] = {};
  uint32_t mask = 0;
  for (uint32_t &h : hexes)
    if (!next_word(line, w) || !whole_number(w, h, 16)) return false;
  for (int32_t &d : decs)
    if (!next_word(line, w) || !whole_number(w, d)) return false;
  if (!next_word(line, w) || !whole_number(w, mask, 16)) return false;
  route.destination = hexes[0];
  route.gateway = hexes[1];
  route.flags = hexes[2];
  return true;
}

bool parse_nameserver_line(std::string_view line, std::string_view &server) {
  if (!starts_with(line, "nameserver")) return false;
  std::string_view keyword, word;
  if (!next_word(line, keyword) || !next_word(line, word)) return false;
  if (word.size() > kNameServerMax) return false;  // an IPv6 server: passed over, never cut
  server = word;
  return true;
}

}  // namespace brim
