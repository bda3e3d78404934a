// Stream-level readers behind getStats and friends, for callers that hold the table text in a
// file of their own (fixtures, benchmarks). The public functions open the kernel's files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "brimlib.h"

namespace brim {

// Reads one line into buf (cap bytes with the terminator) and views it in `line`. False at the
// end of the stream. A line that does not fit is consumed whole; `whole` is false then and
// `line` holds its head.
bool read_table_line(FILE *f, char *buf, size_t cap, std::string_view &line, bool &whole);

// /proc/net/dev text from `f`: two header lines, then one interface a line. 0 when `ifname` was
// found and its counters read, -1 (stats untouched) when it is not there.
int netdev_stats_from(FILE *f, std::string_view ifname, NetDevStats &stats);

}  // namespace brim
