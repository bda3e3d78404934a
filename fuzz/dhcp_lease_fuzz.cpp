// The lease walker over any bytes, with output fields of exactly their documented sizes (heap
// blocks, so a byte written past one is a sanitizer report) and the cursor never past the end.
#include <vector>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

BRIM_FUZZ_TARGET {
  std::vector<char> copy(data, data + size);  // exactly the input's size: the walker must not read beyond it
  char *cursor = copy.data();
  uint32_t left = static_cast<uint32_t>(size);
  auto ip = std::make_unique<char[]>(16), mac = std::make_unique<char[]>(20), lease = std::make_unique<char[]>(10),
       host = std::make_unique<char[]>(64);
  for (int r; (r = getOneDhcpClient(&cursor, &left, ip.get(), mac.get(), lease.get(), host.get())) >= 0;) {
    brim_fuzz::require(static_cast<size_t>(cursor - copy.data()) + left == size);
    if (r == 1) brim_fuzz::require(std::strlen(mac.get()) == 17 && std::strlen(host.get()) <= 56 && std::strlen(lease.get()) <= 9);
  }
  brim_fuzz::require(left < sizeof(DhcpLeaseRecord));
  return 0;
}
