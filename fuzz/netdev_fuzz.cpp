// /proc/net/dev: the layout probe, the line splitter and the counter reader over any line, and
// the whole-table reader over any text. Fields the reader never names must stay untouched.
#include "brimlib/net/kernel_tables.h"
#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

using brim::NetDevLayout, brim_fuzz::require;

static NetDevStats marked() { NetDevStats s; std::memset(&s, 0xA5, sizeof s); return s; }
static bool spares_untouched(const NetDevStats &s) {
  const NetDevStats m = marked();
  return !std::memcmp(s.spare_a, m.spare_a, sizeof s.spare_a) && !std::memcmp(s.spare_b, m.spare_b, sizeof s.spare_b) &&
         !std::memcmp(s.spare_c, m.spare_c, sizeof s.spare_c);
}

BRIM_FUZZ_TARGET {
  std::string_view in = brim_fuzz::view(data, size), name, counters;
  NetDevLayout layout = brim::netdev_layout(in);
  require(layout == NetDevLayout::Plain || layout == NetDevLayout::Bytes || layout == NetDevLayout::Compressed);
  brim::split_netdev_line(in, name, counters);
  require(brim_fuzz::inside(name, in) && brim_fuzz::inside(counters, in));  // both parts are views into the line
  for (NetDevLayout l : {NetDevLayout::Plain, NetDevLayout::Bytes, NetDevLayout::Compressed}) {
    NetDevStats stats = marked();
    brim::fill_netdev_counters(l, counters, stats);
    require(spares_untouched(stats));
    NetDevStats before = stats;
    // A line is only ever taken for the interface it names.
    if (brim::parse_netdev_line(in, "no-such-if-name", l, stats)) require(name == "no-such-if-name");
    else require(std::memcmp(&before, &stats, sizeof stats) == 0);
  }
  // The whole input as a table file: headers, then lines of any length.
  if (FILE *f = brim_fuzz::stream(data, size)) {
    NetDevStats stats = marked();
    std::string name_copy(name.substr(0, 32));
    if (!name_copy.empty()) brim::netdev_stats_from(f, name_copy, stats);
    std::fclose(f);
    require(spares_untouched(stats));
  }
  return 0;
}
