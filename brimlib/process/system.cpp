// BrimSystem: the firmware's system(3), with its own spawn and wait.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#if BRIM_POSIX_SPAWN
#include <spawn.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include "brimlib.h"

extern char **environ;

namespace {

void write_all(int fd, const char *p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

#if !BRIM_POSIX_SPAWN
// For C libraries without posix_spawn. vfork shares the address space and stack until the exec,
// so a caught signal must never run the caller's handler in the child: every signal is blocked
// across vfork, and the child sets each caught one to its default (its handler table is its own)
// before it takes the caller's mask back. Then execv, or _exit(127) as the shell's own "cannot
// run". Ignored signals stay ignored through the exec; the parent's dispositions stay put.
pid_t spawn_shell(char *const argv[]) {
  sigset_t all, old;
  ::sigfillset(&all);
  ::sigprocmask(SIG_SETMASK, &all, &old);
  pid_t pid = ::vfork();
  if (pid == 0) {
    for (int sig = 1; sig < NSIG; ++sig) {
      struct sigaction sa;
      if (::sigaction(sig, nullptr, &sa) == 0 && sa.sa_handler != SIG_DFL && sa.sa_handler != SIG_IGN) {
        sa.sa_handler = SIG_DFL;
        sa.sa_flags = 0;
        ::sigaction(sig, &sa, nullptr);
      }
    }
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::execv("/bin/sh", argv);
    ::_exit(127);
  }
  ::sigprocmask(SIG_SETMASK, &old, nullptr);
  return pid;
}
#endif

}  // namespace

extern "C" int BrimSystem(const char *cmd, int trace) {
  int status = 0;
  if (cmd == nullptr) {
    std::fputs("BrimSystem: Null Command, Error!", stdout);
    std::fflush(stdout);
    return -1;
  }
  if (trace) {
    // Our own buffered output goes first, then the trace line straight to the descriptor,
    // so it precedes anything the command writes.
    std::fflush(stdout);
    write_all(STDOUT_FILENO, "[system]: ", 10);
    write_all(STDOUT_FILENO, cmd, std::strlen(cmd));
    write_all(STDOUT_FILENO, "\r\n", 2);
  }

  // posix_spawn creates the child without copying the address space and leaves the caller's
  // signal dispositions and mask in force, as a fork+exec would.
  char sh[] = "sh";
  char dash_c[] = "-c";
  char *const argv[] = {sh, dash_c, const_cast<char *>(cmd), nullptr};
#if BRIM_POSIX_SPAWN
  pid_t pid = -1;
  int rc = ::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ);
  if (rc != 0) {
    // The C library reaps a child whose exec failed and reports why; that child ended with 127.
    if (rc == ENOENT || rc == EACCES || rc == ENOEXEC || rc == ENOTDIR || rc == ELOOP)
      return 127 << 8;
    return -1;
  }
#else
  pid_t pid = spawn_shell(argv);
  if (pid < 0) return -1;
#endif
  for (;;) {
    pid_t w = ::waitpid(pid, &status, 0);
    if (w == pid) return status;
    if (w < 0 && errno == EINTR) continue;
    return -1;
  }
}
