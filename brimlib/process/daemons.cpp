// Stopping the firmware's daemons and relaunching the init script; pid files.
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "brimlib.h"
#include "brimlib/common/unique_fd.h"

namespace {

constexpr const char *kDaemonCommands[] = {
    "killall -9 sleep 2> /dev/null",     "killall -9 routed 2> /dev/null",
    "killall -9 dnrd 2> /dev/null",      "killall -9 ntpclient 2> /dev/null",
    "killall -9 lld2d 2> /dev/null",     "killall -9 reload 2> /dev/null",
    "killall -9 iapp 2> /dev/null",      "killall -9 wscd 2> /dev/null",
    "killall -9 mini_upnpd 2> /dev/null", "killall -9 iwcontrol 2> /dev/null",
    "killall -9 auth 2> /dev/null",      "killall -9 disc_server 2> /dev/null",
    "killall -9 igmpproxy 2> /dev/null", "echo 1,0 > /proc/br_mCastFastFwd",
    "killall -9 syslogd 2> /dev/null",   "killall -9 klogd 2> /dev/null",
    "killall -9 ppp_inet 2> /dev/null",
};

// The init script's argument reaches a shell command line: only plain words get there.
bool plain_init_arg(const char *arg) {
  if (arg == nullptr) return false;
  size_t n = 0;
  for (; arg[n]; ++n) {
    char c = arg[n];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
              c == '\t' || std::strchr("_-.,:=/", c) != nullptr;
    if (!ok || n >= 244) return false;
  }
  return true;
}

void close_from(int first) {
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, first, ~0U, 0) == 0) return;
#endif
  long max = ::sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < max; ++fd) ::close(static_cast<int>(fd));
}

}  // namespace

extern "C" {

void killSomeDaemon(void) {
  for (const char *cmd : kDaemonCommands) BrimSystem(cmd, 0);
}

int getPid(const char *path) {
  struct stat st;
  if (path == nullptr || ::stat(path, &st) != 0) return -1;
  brim::unique_file f(std::fopen(path, "re"));
  if (!f) {
    std::fputs("Read pid file error!\n", stderr);
    return -1;
  }
  char line[100] = {};
  (void)std::fgets(line, sizeof line, f.get());
  // As atoi reads it, but clamped: a number past the int range is no overflow.
  long v = std::strtol(line, nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

int run_init_script(const char *arg) {
  if (!plain_init_arg(arg)) return -1;
  char buf[256];
  std::snprintf(buf, sizeof buf, "%s/%s.pid", "/var/run", "udhcpd");
  int pid = getPid(buf);
  if (pid > 0) {
    // Never process 1: init halts on SIGUSR1, and a pid file naming it is stale or forged.
    if (pid > 1) ::kill(pid, SIGUSR1);
    ::usleep(1000);
    BrimSystem("killall -9 udhcpd 2> /dev/null", 0);
    BrimSystem("rm -f /var/run/udhcpd.pid 2> /dev/null", 0);
  } else {
    ::usleep(1000);
  }
  killSomeDaemon();
  BrimSystem("killsh.sh", 0);

  std::fflush(nullptr);  // the child must not write our buffered output a second time
  pid_t child = ::fork();
  if (child != 0) return child;

  std::snprintf(buf, sizeof buf, "%s gw %s", "init.sh", arg);
  close_from(3);
  ::sleep(1);
  BrimSystem(buf, 0);
  ::_exit(1);  // never run the caller's exit handlers in this copy of its process
}

}  // extern "C"
