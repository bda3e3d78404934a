// Every read of the configuration store goes through here. The store copies an item whole and
// takes no size, so a wrong id in a caller's table would write a long item over a short buffer:
// the store writes into scratch of the largest item size, and the caller's buffer gets what its
// type holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brim {

// Room for any item: the store's longest values are 128-byte texts; twice that for a vendor's.
inline constexpr size_t kItemScratch = 256;

// Copies the first `cap` bytes of item `id` into `out`; false with `out` untouched when the item
// cannot be read.
bool read_item(int id, void *out, size_t cap);
// A text item into `out` (`cap` bytes, always terminated, cut to fit); `out` untouched when the
// item cannot be read.
void read_text(int id, char *out, size_t cap);
// An integer item, or `fallback` when it cannot be read.
int32_t read_int(int id, int32_t fallback = 0);

}  // namespace brim
