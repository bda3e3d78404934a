// Readers for the small text files through which the device's state is exchanged.
#include "brimlib/files/readers.h"

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "brimlib.h"
#include "brimlib/common/leading_int.h"
#include "brimlib/common/unique_fd.h"

namespace brim {

size_t read_stream(FILE *fp, char *buf, size_t max, bool stop_at_newline) {
  if (fp == nullptr || buf == nullptr) return 0;
  size_t n = 0;
  while (n < max) {
    int c = std::fgetc(fp);  // a read error ends the text like end of file
    if (c == EOF) break;
    if (stop_at_newline && c == '\n') break;
    buf[n++] = static_cast<char>(c);
  }
  return n;
}

int read_text_file(const char *path, char *buf, size_t cap) {
  if (path == nullptr || buf == nullptr || cap == 0) return -1;
  unique_file fp(std::fopen(path, "re"));
  if (!fp) return -1;
  size_t n = 0;
  while (n < cap - 1) {
    size_t got = std::fread(buf + n, 1, cap - 1 - n, fp.get());
    if (got == 0) break;
    n += got;
  }
  // The last byte read (normally the final line end) gives way to the terminator.
  size_t end = n > 0 ? n - 1 : 0;
  buf[end] = '\0';
  return static_cast<int>(end);
}

bool tmp_path(const char *name, char *out, size_t cap) {
  if (cap == 0) return false;
  out[0] = '\0';
  if (name == nullptr) return false;
  int n = std::snprintf(out, cap, "/tmp/%s", name);
  if (n < 0 || static_cast<size_t>(n) >= cap) {
    // A cut name would name another file.
    out[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace brim

namespace {
constexpr size_t kTmpPathCap = 64;
}

extern "C" {

void nsqreadline(char *buf, FILE *fp) { brim::read_stream(fp, buf, SIZE_MAX, true); }

void nullReadline(char *buf, FILE *fp) { brim::read_stream(fp, buf, SIZE_MAX, true); }

void ReadAllFile(char *buf, FILE *fp) { brim::read_stream(fp, buf, SIZE_MAX, false); }

int getStrFromFile(const char *path, char *buf) {
  if (path == nullptr || buf == nullptr) return -1;
  brim::unique_file fp(std::fopen(path, "re"));
  if (!fp) return -1;
  size_t n = brim::read_stream(fp.get(), buf, SIZE_MAX, false);
  size_t end = n > 0 ? n - 1 : 0;
  buf[end] = '\0';
  return static_cast<int>(end);
}

int getStrFromTmp(const char *name, char *buf) {
  char path[kTmpPathCap];
  if (!brim::tmp_path(name, path, sizeof path)) return -1;
  return getStrFromFile(path, buf);
}

int getValFromTmp(const char *name) {
  char path[kTmpPathCap];
  if (!brim::tmp_path(name, path, sizeof path)) return 0;
  brim::unique_file fp(std::fopen(path, "re"));
  if (!fp) return 0;
  char line[64];
  std::memset(line, 0, sizeof line);
  if (std::fgets(line, sizeof line, fp.get()) == nullptr) return 0;
  return brim::leading_int(std::string_view(line, std::strlen(line)));
}

}  // extern "C"
