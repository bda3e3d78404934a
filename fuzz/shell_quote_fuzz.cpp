// brim_shell_quote: for every text without NUL, the quoted form is read by a shell as exactly one
// word equal to the text. Checked in-process with a reference reader for every input, and by the
// real /bin/sh for every 1000th input (a shell per input would be too slow).
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/shell_quote.h"

namespace {

// What "/bin/sh -c 'printf %s <quoted>'" prints; nullopt when the shell cannot be run.
std::optional<std::string> shell_prints(const std::string &quoted) {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  std::string cmd = "printf %s " + quoted;
  pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  // libFuzzer's timeout alarm interrupts blocking calls: an early stop here would close the
  // pipe under the shell, which then dies of SIGPIPE.
  for (;;) {
    n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static unsigned long runs = 0;
  auto text = brim_fuzz::c_string(brim_fuzz::view(data, size));
  std::string plain(text.get());

  // Worst case: every byte a single quote, four bytes each, two outer quotes, the terminator.
  int cap = static_cast<int>(4 * plain.size() + 3);
  auto out = std::make_unique<char[]>(static_cast<size_t>(cap));
  int n = brim_shell_quote(text.get(), out.get(), cap);
  if (n < 0 || static_cast<size_t>(n) != std::strlen(out.get())) std::abort();
  std::optional<std::string> word = brim_fuzz::read_quoted_word(std::string_view(out.get(), static_cast<size_t>(n)));
  if (!word || *word != plain) std::abort();

  // One byte too few: refused, with an empty output and nothing written past it.
  auto tight = std::make_unique<char[]>(static_cast<size_t>(n));
  if (brim_shell_quote(text.get(), tight.get(), n) != -1 || tight[0] != '\0') std::abort();

  if (++runs % 1000 == 0) {
    std::optional<std::string> printed = shell_prints(out.get());
    if (printed && *printed != plain) std::abort();
  }
  return 0;
}
