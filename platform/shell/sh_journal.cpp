// The sandbox's /bin/sh: when BRIM_SH_JOURNAL is set (non-empty, not "0"), records each
// "sh -c CMD" in the journal, then becomes the real shell with the very same argument vector,
// so exit status, signals, descriptors and $0 are the shell's own.
//
// Journal line: "sh", the options up to and including the one holding 'c' as given, one space,
// CMD as it is except that a line feed is written as \n and a carriage return as \r (so each
// command stays one line), then any further arguments quoted as brim-journal quotes them.
// The journal is $BRIM_JOURNAL, default /var/log/brim.journal; it is opened for appending and the
// line goes out in one write, so concurrent writers do not interleave within a line.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr const char *kRealShell = "/opt/brim/libexec/sh";
constexpr const char *kDefaultJournal = "/var/log/brim.journal";

struct Line {
  char *p = nullptr;
  size_t n = 0, cap = 0;
  bool ok = true;
  void put(char c) {
    if (!ok) return;
    if (n + 1 >= cap) {
      size_t ncap = cap ? cap * 2 : 256;
      char *np = static_cast<char *>(realloc(p, ncap));
      if (!np) {
        ok = false;
        return;
      }
      p = np;
      cap = ncap;
    }
    p[n++] = c;
  }
  void put(const char *s) {
    while (*s) put(*s++);
  }
};

bool plain(const char *s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (!strchr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-", *s)) return false;
  return true;
}

void put_quoted(Line &l, const char *s) {
  if (plain(s)) {
    l.put(s);
    return;
  }
  l.put('"');
  for (; *s; ++s) {
    unsigned char c = static_cast<unsigned char>(*s);
    switch (c) {
      case '\\': l.put("\\\\"); break;
      case '"': l.put("\\\""); break;
      case '\n': l.put("\\n"); break;
      case '\t': l.put("\\t"); break;
      case '\r': l.put("\\r"); break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char hex[5];
          snprintf(hex, sizeof hex, "\\x%02x", c);
          l.put(hex);
        } else {
          l.put(static_cast<char>(c));
        }
    }
  }
  l.put('"');
}

// Index of CMD when argv asks the shell to run a command string, else 0.
int command_index(int argc, char **argv) {
  bool dash_c = false;
  int i = 1;
  for (; i < argc; ++i) {
    const char *a = argv[i];
    if (strcmp(a, "--") == 0) {
      ++i;
      break;
    }
    if ((a[0] != '-' && a[0] != '+') || a[1] == '\0') break;
    if (a[0] == '-' && strchr(a + 1, 'c')) dash_c = true;
    // "-o NAME" takes the next argument.
    if (a[strlen(a) - 1] == 'o' && i + 1 < argc) ++i;
  }
  return dash_c && i < argc ? i : 0;
}

void record(int argc, char **argv, int cmd) {
  Line l;
  l.put("sh");
  for (int i = 1; i < cmd; ++i) {
    l.put(' ');
    l.put(argv[i]);
  }
  l.put(' ');
  for (const char *s = argv[cmd]; *s; ++s) {
    if (*s == '\n') l.put("\\n");
    else if (*s == '\r') l.put("\\r");
    else l.put(*s);
  }
  for (int i = cmd + 1; i < argc; ++i) {
    l.put(' ');
    put_quoted(l, argv[i]);
  }
  l.put('\n');
  const char *path = getenv("BRIM_JOURNAL");
  if (!path || !*path) path = kDefaultJournal;
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0 && l.ok) {
    ssize_t w;
    do w = write(fd, l.p, l.n);
    while (w < 0 && errno == EINTR);
  }
  if (fd >= 0) close(fd);
  free(l.p);
}

}  // namespace

int main(int argc, char **argv) {
  const char *on = getenv("BRIM_SH_JOURNAL");
  if (on && *on && strcmp(on, "0") != 0) {
    int cmd = command_index(argc, argv);
    if (cmd > 0) record(argc, argv, cmd);
  }
  execv(kRealShell, argv);
  int err = errno;
  fprintf(stderr, "sh: cannot run %s: %s\n", kRealShell, strerror(err));
  return 127;
}
