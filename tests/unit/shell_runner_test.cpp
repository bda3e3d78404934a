// BrimSystem and the shell quoting helper, against the real /bin/sh.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "brimlib.h"

namespace {

// Captures what a call writes on file descriptor 1.
template <typename F>
std::string stdout_of(F f) {
  std::fflush(stdout);
  char path[] = "/tmp/brim_out_XXXXXX";
  int fd = mkstemp(path);
  int saved = dup(1);
  dup2(fd, 1);
  f();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out;
  char buf[512];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fd);
  unlink(path);
  return out;
}

TEST(BrimSystem, ReturnsTheWaitStatus) {
  EXPECT_EQ(BrimSystem("true", 0), 0);
  EXPECT_EQ(BrimSystem("exit 3", 0), 768);
  EXPECT_EQ(BrimSystem("kill -9 $$", 0), 9);
  EXPECT_EQ(BrimSystem("", 0), 0);
  EXPECT_EQ(BrimSystem("no_such_command_brim 2>/dev/null", 0), 127 * 256);
}

TEST(BrimSystem, NullCommandPrintsAndFails) {
  int rc = 0;
  std::string out = stdout_of([&] { rc = BrimSystem(nullptr, 1); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(out, "BrimSystem: Null Command, Error!");
}

TEST(BrimSystem, TraceLineComesFirst) {
  std::string out = stdout_of([] { EXPECT_EQ(BrimSystem("echo hi", 1), 0); });
  EXPECT_EQ(out, "[system]: echo hi\r\nhi\n");
  out = stdout_of([] { EXPECT_EQ(BrimSystem("echo quiet", 0), 0); });
  EXPECT_EQ(out, "quiet\n");
}

TEST(BrimSystem, BackgroundCommandReturnsAtOnce) {
  char marker[] = "/tmp/brim_bg_XXXXXX";
  int fd = mkstemp(marker);
  close(fd);
  unlink(marker);
  std::string cmd = std::string("(sleep 0.3; touch ") + marker + ") >/dev/null 2>&1 &";
  EXPECT_EQ(BrimSystem(cmd.c_str(), 0), 0);
  EXPECT_NE(access(marker, F_OK), 0) << "the call waited for the background program";
  for (int i = 0; i < 100 && access(marker, F_OK) != 0; ++i) usleep(50 * 1000);
  EXPECT_EQ(access(marker, F_OK), 0) << "the background program did not keep running";
  unlink(marker);
}

volatile sig_atomic_t g_alarms = 0;
void on_alarm(int) { g_alarms = g_alarms + 1; }

TEST(BrimSystem, InterruptedWaitsResumeAndHandlersStay) {
  struct sigaction sa = {}, old = {};
  sa.sa_handler = on_alarm;  // no SA_RESTART: waitpid really is interrupted
  sigaction(SIGALRM, &sa, &old);
  struct itimerval it = {{0, 20000}, {0, 20000}};
  setitimer(ITIMER_REAL, &it, nullptr);
  g_alarms = 0;
  int rc = BrimSystem("sleep 0.3; exit 5", 0);
  struct itimerval off = {};
  setitimer(ITIMER_REAL, &off, nullptr);
  EXPECT_EQ(rc, 5 * 256);
  EXPECT_GT(g_alarms, 3);
  struct sigaction now = {};
  sigaction(SIGALRM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, on_alarm) << "the caller's handler was changed";
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGCHLD));
  EXPECT_FALSE(sigismember(&mask, SIGINT));
  sigaction(SIGALRM, &old, nullptr);
}

TEST(ShellQuote, TheShellReceivesExactlyTheTextAsOneWord) {
  const char *hostile[] = {"plain", "", "it's", "'", "''", "$(touch /tmp/brim_canary)", "`id`", "a;b|c&d>e",
                           "line\nbreak", "-n", "back\\slash \"dq\" $HOME *", "tab\there"};
  for (const char *text : hostile) {
    char quoted[256];
    ASSERT_GT(brim_shell_quote(text, quoted, sizeof quoted), 0) << text;
    std::string cmd = std::string("printf '%s|%d' ") + quoted + " $#";
    // "$#" counts the words after the format: must be exactly one.
    std::string got = stdout_of([&] { BrimSystem((std::string("set -- ") + quoted + "; " + cmd).c_str(), 0); });
    EXPECT_EQ(got, std::string(text) + "|1") << text;
  }
  EXPECT_NE(access("/tmp/brim_canary", F_OK), 0);
}

TEST(ShellQuote, RefusesWhatDoesNotFit) {
  char out[8];
  EXPECT_EQ(brim_shell_quote("abcde", out, sizeof out), 7);
  EXPECT_STREQ(out, "'abcde'");
  EXPECT_EQ(brim_shell_quote("abcdef", out, sizeof out), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(brim_shell_quote("a'", out, sizeof out), 7);
  EXPECT_STREQ(out, "'a'\\'''");
  EXPECT_EQ(brim_shell_quote("ab'", out, sizeof out), -1);
  EXPECT_EQ(brim_shell_quote(nullptr, out, sizeof out), -1);
}

}  // namespace
