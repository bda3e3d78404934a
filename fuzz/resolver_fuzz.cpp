// The resolver file: single lines, and the line reader over any text with a small buffer so
// that over-long lines, stray NUL bytes and a missing last line end all come up.
#include "brimlib/net/kernel_tables.h"
#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

static void check_line(std::string_view line) {
  std::string_view server;
  if (brim::parse_nameserver_line(line, server))
    brim_fuzz::require(!server.empty() && server.size() <= brim::kNameServerMax && brim_fuzz::inside(server, line));
}

BRIM_FUZZ_TARGET {
  check_line(brim_fuzz::view(data, size));
  FILE *f = brim_fuzz::stream(data, size);
  if (f == nullptr) return 0;
  char buf[24];
  std::string_view line;
  bool whole = true;
  while (brim::read_table_line(f, buf, sizeof buf, line, whole)) brim_fuzz::require(line.size() < sizeof buf), check_line(line);
  std::fclose(f);
  return 0;
}
