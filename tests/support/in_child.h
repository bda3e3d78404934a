// Runs a call in a forked child and hands back the text it returned: a call that faults, or that
// must not touch this process (its signals, its process group), cannot take the suite with it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace brim_test {

// The text `call` returned in the child; "<signal N>" when the child died of one, "<exit N>"
// when it could not hand its text over.
inline std::string in_child(const std::function<std::string()> &call) {
  int fds[2];
  if (pipe(fds) != 0) return "<no pipe>";
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string out = call();
    _exit(write(fds[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0 : 1);
  }
  close(fds[1]);
  std::string out;
  char b[4096];
  for (ssize_t n; (n = read(fds[0], b, sizeof b)) > 0;) out.append(b, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return "<signal " + std::to_string(WTERMSIG(status)) + ">";
  return WEXITSTATUS(status) == 0 ? out : "<exit " + std::to_string(WEXITSTATUS(status)) + ">";
}

}  // namespace brim_test
