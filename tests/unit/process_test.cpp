// Running commands, capturing their output and quoting for the shell, against the real /bin/sh.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brimlib.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(BrimSystem, WaitStatusTraceLineAndNullCommand) {
  const std::pair<const char *, int> cases[] = {
      {"true", 0}, {"exit 3", 768}, {"kill -9 $$", 9}, {"", 0}, {"no_such_command_brim 2>/dev/null", 127 * 256}};
  for (auto [cmd, status] : cases) EXPECT_EQ(BrimSystem(cmd, 0), status) << cmd;
  CaptureStdout();
  EXPECT_EQ(BrimSystem("echo hi", 1), 0);
  EXPECT_EQ(BrimSystem("echo quiet", 0), 0);
  EXPECT_EQ(BrimSystem(nullptr, 1), -1);
  EXPECT_EQ(GetCapturedStdout(), "[system]: echo hi\r\nhi\nquiet\nBrimSystem: Null Command, Error!");
}

TEST(BrimSystem, BackgroundCommandReturnsAtOnce) {
  char marker[] = "/tmp/brim_bg_XXXXXX";
  close(mkstemp(marker));
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
    // "$#" counts the words after the format: must be exactly one.
    CaptureStdout();
    BrimSystem((std::string("set -- ") + quoted + "; printf '%s|%d' " + quoted + " $#").c_str(), 0);
    EXPECT_EQ(GetCapturedStdout(), std::string(text) + "|1") << text;
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

TEST(Capture, FirstLineCutToTheBufferAndSilentCommands) {
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(getCmdResult("printf 'one\\ntwo\\n'", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "one");
  EXPECT_EQ(getCmdStr("printf 'alpha\\nbeta\\n'", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "alpha");
  char small[6];  // exactly the size given, so the sanitizer sees a longer write
  EXPECT_EQ(getCmdResult("echo abcdefghij", small, sizeof small), 0);
  EXPECT_STREQ(small, "abcde");
  EXPECT_EQ(getCmdStr("echo abcdefghij", small, sizeof small), 0);
  EXPECT_STREQ(small, "abcde");
  EXPECT_EQ(getCmdVal("printf '42 apples\\n7\\n'"), 42);
  EXPECT_EQ(getCmdVal("echo x42"), 0);
  EXPECT_EQ(getCmdVal("true"), 0);
  char keep[8] = "keep";
  EXPECT_EQ(getCmdResult("true", keep, sizeof keep), 0);
  EXPECT_STREQ(keep, "keep");  // untouched apart from its last byte
  EXPECT_EQ(getCmdStr("true", keep, sizeof keep), -1);
  EXPECT_STREQ(keep, "");
  // No size, no write.
  char guard[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(getCmdResult("echo hi", guard + 2, 0), -1);
  EXPECT_EQ(getCmdResult("echo hi", guard + 2, -5), -1);
  EXPECT_EQ(getCmdStr("echo hi", guard + 2, 0), -1);
  EXPECT_EQ(std::string(guard, 4), "abcd");
}

TEST(Capture, DateTextHasTheTwelveHourForm) {
  char buf[64];
  ASSERT_EQ(get_Create_Time(buf), buf);
  ASSERT_EQ(std::strlen(buf), 22u) << buf;
  int y, mo, d, h, mi, s;
  char ampm[3] = {};
  EXPECT_EQ(std::sscanf(buf, "%4d-%2d-%2d %2d:%2d:%2d %2s", &y, &mo, &d, &h, &mi, &s, ampm), 7) << buf;
  EXPECT_TRUE(std::string(ampm) == "AM" || std::string(ampm) == "PM") << buf;
  EXPECT_GE(h, 1);
  EXPECT_LE(h, 12);
}

}  // namespace
