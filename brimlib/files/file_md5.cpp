// The MD5 digest of a file, as the firmware's md5sum tool prints it.
#include <cstdio>
#include <cstring>

#include "brimlib.h"
#include "brimlib/files/readers.h"

namespace {

// Every path of up to 214 characters fits, even when each of its characters needs quoting.
constexpr int kMaxPath = 214;
constexpr int kQuotedCap = 4 * kMaxPath + 3;
constexpr char kCmdFormat[] = "md5sum %s | awk '{print $1}' > /tmp/md5_sum";

}  // namespace

extern "C" int Cal_file_md5(const char *path, char *out) {
  if (out == nullptr) return 0;
  out[0] = '\0';
  if (path == nullptr) return 0;
  // The path reaches the shell as one quoted word: blanks and shell characters stay in the name.
  char quoted[kQuotedCap];
  if (std::strlen(path) > kMaxPath || brim_shell_quote(path, quoted, sizeof quoted) < 0) return 0;
  char cmd[sizeof kCmdFormat + kQuotedCap];
  std::snprintf(cmd, sizeof cmd, kCmdFormat, quoted);
  BrimSystem(cmd, 0);

  // Read back at most one digest line: 32 digits, possibly after the backslash that md5sum puts
  // in front of the digest of a name holding a backslash or a line end, then the line end.
  char text[40];
  if (brim::read_text_file("/tmp/md5_sum", text, 35) < 0) return 0;
  const char *digest = text[0] == '\\' ? text + 1 : text;
  size_t n = std::strlen(digest);
  if (n > 32) n = 32;
  std::memcpy(out, digest, n);
  out[n] = '\0';
  return 0;
}
