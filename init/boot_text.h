// Pure decisions of the boot sequence, kept apart from the commands so they can be tested alone.
#pragma once

#include <cstddef>

namespace brim {

// The language code for a stored language value: the first of cn, en, ct, vn found anywhere in
// it, in that order; "cn" when none is.
const char *language_code(const char *stored);

// A host name we write into /etc/hosts: letters, digits, '-' and '.', 1 to 31 characters.
bool valid_host_name(const char *name);

// How a password reaches passwd: Plain keeps the firmware's own 'echo "%s"' commands; Quoted
// carries a password with shell-special characters as data; Refused for a control character,
// which no line-based passwd input can carry.
enum class PasswordForm { Plain, Quoted, Refused };
constexpr size_t kPasswordCmdCap = 640;
// Formats the two commands that write the password twice into /var/tmppwd.
PasswordForm password_commands(const char *password, char *first, char *second, size_t cap);

}  // namespace brim
