// brim_shell_quote: for every text without NUL, the quoted form is read by a shell as exactly one
// word equal to the text. Checked in-process with a reference reader for every input, and by the
// real /bin/sh for every 1000th input (a shell per input would be too slow).
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/shell_quote.h"

using brim_fuzz::require;

// What "/bin/sh -c 'printf %s <quoted>'" prints; nullopt when the shell cannot be run.
static std::optional<std::string> shell_prints(const std::string &quoted) {
  int fds[2];
  std::string cmd = "printf %s " + quoted, out;
  if (::pipe(fds) != 0) return std::nullopt;
  pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::dup2(fds[1], 1), ::close(fds[0]), ::close(fds[1]);
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  char buf[4096];
  // libFuzzer's timeout alarm interrupts blocking calls: an early stop here would close the
  // pipe under the shell, which then dies of SIGPIPE.
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  require(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return out;
}

BRIM_FUZZ_TARGET {
  static unsigned long runs = 0;
  auto text = brim_fuzz::c_string(brim_fuzz::view(data, size));
  std::string plain(text.get());
  // Worst case: every byte a single quote, four bytes each, two outer quotes, the terminator.
  int cap = static_cast<int>(4 * plain.size() + 3);
  auto out = std::make_unique<char[]>(static_cast<size_t>(cap));
  int n = brim_shell_quote(text.get(), out.get(), cap);
  require(n >= 0 && static_cast<size_t>(n) == std::strlen(out.get()));
  std::optional<std::string> word = brim_fuzz::read_quoted_word(std::string_view(out.get(), static_cast<size_t>(n)));
  require(word && *word == plain);
  // One byte too few: refused, with an empty output and nothing written past it.
  auto tight = std::make_unique<char[]>(static_cast<size_t>(n));
  require(brim_shell_quote(text.get(), tight.get(), n) == -1 && tight[0] == '\0');
  if (++runs % 1000 == 0) {
    std::optional<std::string> printed = shell_prints(out.get());
    require(!printed || *printed == plain);
  }
  return 0;
}
