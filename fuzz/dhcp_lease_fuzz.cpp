// The lease walker over any bytes, with output fields of exactly their documented sizes (heap
// blocks, so a byte written past one is a sanitizer report) and the cursor never past the end.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A copy of exactly the input's size: the walker must not read beyond it.
  std::vector<char> copy(data, data + size);
  char *cursor = copy.data();
  uint32_t left = static_cast<uint32_t>(size);
  auto ip = std::make_unique<char[]>(16);
  auto mac = std::make_unique<char[]>(20);
  auto lease = std::make_unique<char[]>(10);
  auto host = std::make_unique<char[]>(64);
  for (;;) {
    int r = getOneDhcpClient(&cursor, &left, ip.get(), mac.get(), lease.get(), host.get());
    if (r < 0) break;
    if (static_cast<size_t>(cursor - copy.data()) + left != size) std::abort();
    if (r == 1) {
      if (std::strlen(mac.get()) != 17 || std::strlen(host.get()) > 56 || std::strlen(lease.get()) > 9) std::abort();
    }
  }
  if (left >= sizeof(DhcpLeaseRecord)) std::abort();
  return 0;
}
