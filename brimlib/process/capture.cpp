// Capturing a command's output through a read pipe: the first line as text or number, the
// wireless channel, the local date and time.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "brimlib.h"
#include "brimlib/common/ifname.h"

namespace {

// Owns a popen stream; pclose waits for the command.
class Pipe {
 public:
  explicit Pipe(const char *cmd) : f_(cmd ? ::popen(cmd, "r") : nullptr) {}
  Pipe(const Pipe &) = delete;
  Pipe &operator=(const Pipe &) = delete;
  ~Pipe() {
    if (f_) ::pclose(f_);
  }
  FILE *get() const { return f_; }
  explicit operator bool() const { return f_ != nullptr; }

 private:
  FILE *f_;
};

// fgets that resumes when a signal interrupts the read: a caller's handler installed without
// SA_RESTART would otherwise cut the command's output short (fgets gives up on EINTR).
char *read_line(char *buf, int size, FILE *f) {
  if (size == 1) {
    buf[0] = '\0';
    return buf;
  }
  int n = 0;
  while (n < size - 1) {
    errno = 0;
    int c = std::getc(f);
    if (c == EOF) {
      if (std::ferror(f) && errno == EINTR) {
        std::clearerr(f);
        continue;
      }
      break;
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0) return nullptr;
  buf[n] = '\0';
  return buf;
}

void cut_line_end(char *buf) {
  if (char *nl = std::strchr(buf, '\n')) *nl = '\0';
}

int g_last_channel = 0;  // shared by every interface, as the firmware's callers expect

}  // namespace

extern "C" {

int getCmdResult(const char *cmd, char *buf, int size) {
  // Nothing can be stored in a buffer of no size; refusing keeps buf[size - 1] in bounds.
  if (buf == nullptr || size <= 0) return -1;
  Pipe p(cmd);
  if (!p) return -1;
  (void)read_line(buf, size, p.get());
  // Terminated first: with no output the buffer holds the caller's bytes, maybe unterminated.
  buf[size - 1] = '\0';
  cut_line_end(buf);
  return 0;
}

int getCmdStr(const char *cmd, char *buf, int size) {
  if (buf == nullptr || size <= 0) return -1;
  Pipe p(cmd);
  if (!p) return -1;
  if (read_line(buf, size, p.get()) == nullptr) {
    buf[0] = '\0';
    return -1;
  }
  cut_line_end(buf);
  return 0;
}

int getCmdVal(const char *cmd) {
  char buf[64] = {};
  Pipe p(cmd);
  if (!p) return 0;
  read_line(buf, sizeof buf, p.get());  // atoi stops at the line end
  return std::atoi(buf);
}

int getWirelessChannel(const char *ifname) {
  // Room for the longest interface name (15), so a valid name is never cut.
  char cmd[80];
  char val[8];
  std::memset(cmd, 0, sizeof cmd);
  std::memset(val, 0, sizeof val);
  if (!brim::is_plain_ifname(ifname)) return g_last_channel;
  std::snprintf(cmd, sizeof cmd, "iwpriv %s get_mib channel | grep get_mib | cut -d':' -f2", ifname);
  Pipe p(cmd);
  if (!p) return g_last_channel;
  if (read_line(val, sizeof val, p.get()) == nullptr) return g_last_channel;
  g_last_channel = std::atoi(val);
  return g_last_channel;
}

char *get_Create_Time(char *buf) {
  if (buf == nullptr) return nullptr;
  char line[64];
  std::memset(line, 0, sizeof line);
  Pipe p("date +\"%Y-%m-%d %I:%M:%S %p\"");
  if (!p) return nullptr;
  while (read_line(line, sizeof line, p.get()) != nullptr) cut_line_end(line);
  std::memcpy(buf, line, std::strlen(line) + 1);
  return buf;
}

}  // extern "C"
