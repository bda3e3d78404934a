// Pure decisions of the boot sequence.
#include "init/boot_text.h"

#include <cstdio>
#include <cstring>

#include "brimlib.h"

namespace brim {

const char *language_code(const char *stored) {
  static const char *const kCodes[] = {"cn", "en", "ct", "vn"};
  for (const char *code : kCodes)
    if (std::strstr(stored, code)) return code;
  return "cn";
}

bool valid_host_name(const char *name) {
  size_t n = 0;
  for (; name[n]; ++n) {
    char c = name[n];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
              c == '.';
    if (!ok || n >= 31) return false;
  }
  return n > 0;
}

PasswordForm password_commands(const char *password, char *first, char *second, size_t cap) {
  bool special = password[0] == '-';  // echo would take it for an option
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(password); *p; ++p) {
    if (*p < 0x20 || *p == 0x7f) return PasswordForm::Refused;
    if (*p == '$' || *p == '`' || *p == '\\' || *p == '"') special = true;
  }
  if (!special) {
    int a = std::snprintf(first, cap, "echo \"%s\" > /var/tmppwd", password);
    int b = std::snprintf(second, cap, "echo \"%s\" >> /var/tmppwd", password);
    if (a >= 0 && b >= 0 && static_cast<size_t>(a) < cap && static_cast<size_t>(b) < cap) return PasswordForm::Plain;
    return PasswordForm::Refused;
  }
  // printf, not echo: some shells' echo expands backslash sequences in its argument.
  char quoted[kPasswordCmdCap];
  if (brim_shell_quote(password, quoted, sizeof quoted) < 0) return PasswordForm::Refused;
  int a = std::snprintf(first, cap, "printf '%%s\\n' %s > /var/tmppwd", quoted);
  int b = std::snprintf(second, cap, "printf '%%s\\n' %s >> /var/tmppwd", quoted);
  if (a < 0 || b < 0 || static_cast<size_t>(a) >= cap || static_cast<size_t>(b) >= cap) return PasswordForm::Refused;
  return PasswordForm::Quoted;
}

}  // namespace brim
