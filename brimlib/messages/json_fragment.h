// The pure part of the fragment builder, for tests and fuzzing.
#pragma once

#include <cstddef>
#include <string_view>

namespace brim {

// Formats one member ('{\"name\":\"value\"}' or ',\"name\":\"value\"}', names and values
// escaped so the fragment decodes as a JSON string) into `work` (cleared first). False, with
// `work` cleared, when it does not fit `cap` bytes with the terminator.
bool format_member(char *work, size_t cap, bool first, std::string_view name, std::string_view value);

}  // namespace brim
