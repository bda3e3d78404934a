// The resolver file: single lines, and the line reader over any text with a small buffer so
// that over-long lines, stray NUL bytes and a missing last line end all come up.
#include <cstdio>
#include <cstdlib>

#include "brimlib/net/kernel_tables.h"
#include "brimlib/net/proc_parse.h"
#include "fuzz/fuzz_input.h"

namespace {

void check_line(std::string_view line) {
  std::string_view server;
  if (!brim::parse_nameserver_line(line, server)) return;
  if (server.empty() || server.size() > brim::kNameServerMax) std::abort();
  if (server.data() < line.data() || server.data() + server.size() > line.data() + line.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  check_line(brim_fuzz::view(data, size));
  if (size == 0) return 0;
  FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "r");
  if (f == nullptr) return 0;
  char buf[24];
  std::string_view line;
  bool whole = true;
  while (brim::read_table_line(f, buf, sizeof buf, line, whole)) {
    if (line.size() >= sizeof buf) std::abort();
    check_line(line);
  }
  std::fclose(f);
  return 0;
}
