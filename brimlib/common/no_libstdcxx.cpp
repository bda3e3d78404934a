// Header-only std code (string_view::substr and friends) reports misuse through these
// functions, which live in libstdc++. The shipped library must not need libstdc++ at run
// time and builds without exceptions, so a misuse ends the process here instead.
#include <bits/functexcept.h>
#include <cstdlib>

// Kept out of the dynamic symbol table by cmake/brimlib.map.
#define BRIM_HIDDEN __attribute__((noreturn))

namespace std {
BRIM_HIDDEN void __throw_out_of_range_fmt(const char *, ...) { std::abort(); }
BRIM_HIDDEN void __throw_out_of_range(const char *) { std::abort(); }
BRIM_HIDDEN void __throw_length_error(const char *) { std::abort(); }
BRIM_HIDDEN void __throw_logic_error(const char *) { std::abort(); }
BRIM_HIDDEN void __throw_invalid_argument(const char *) { std::abort(); }
BRIM_HIDDEN void __throw_bad_alloc() { std::abort(); }
}  // namespace std
