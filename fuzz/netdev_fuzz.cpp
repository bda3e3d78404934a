// /proc/net/dev: the layout probe, the line splitter and the counter reader over any line, and
// the whole-table reader over any text. Fields the reader never names must stay untouched.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brimlib/net/kernel_tables.h"
#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

namespace {

bool spares_untouched(const NetDevStats &s) {
  NetDevStats ref;
  std::memset(&ref, 0xA5, sizeof ref);
  return std::memcmp(s.spare_a, ref.spare_a, sizeof s.spare_a) == 0 &&
         std::memcmp(s.spare_b, ref.spare_b, sizeof s.spare_b) == 0 &&
         std::memcmp(s.spare_c, ref.spare_c, sizeof s.spare_c) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view in = brim_fuzz::view(data, size);
  brim::NetDevLayout layout = brim::netdev_layout(in);
  if (layout != brim::NetDevLayout::Plain && layout != brim::NetDevLayout::Bytes &&
      layout != brim::NetDevLayout::Compressed)
    std::abort();

  std::string_view name, counters;
  brim::split_netdev_line(in, name, counters);
  // Both parts are views into the line.
  if (!name.empty() && (name.data() < in.data() || name.data() + name.size() > in.data() + in.size())) std::abort();
  if (!counters.empty() &&
      (counters.data() < in.data() || counters.data() + counters.size() > in.data() + in.size()))
    std::abort();

  for (brim::NetDevLayout l : {brim::NetDevLayout::Plain, brim::NetDevLayout::Bytes, brim::NetDevLayout::Compressed}) {
    NetDevStats stats;
    std::memset(&stats, 0xA5, sizeof stats);
    brim::fill_netdev_counters(l, counters, stats);
    if (!spares_untouched(stats)) std::abort();
    NetDevStats before = stats;
    // A line is only ever taken for the interface it names.
    if (brim::parse_netdev_line(in, "no-such-if-name", l, stats)) {
      if (name != "no-such-if-name") std::abort();
    } else if (std::memcmp(&before, &stats, sizeof stats) != 0) {
      std::abort();
    }
  }

  // The whole input as a table file: headers, then lines of any length.
  if (size > 0) {
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
    if (f != nullptr) {
      NetDevStats stats;
      std::memset(&stats, 0xA5, sizeof stats);
      std::string name_copy(name.substr(0, 32));
      if (!name_copy.empty()) brim::netdev_stats_from(f, name_copy, stats);
      std::fclose(f);
      if (!spares_untouched(stats)) std::abort();
    }
  }
  return 0;
}
