// Running commands, capturing their output and quoting for the shell, against the real /bin/sh.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "tests/support/in_child.h"
#include "tests/unit/unit.h"

namespace {

TEST(BrimSystem, WaitStatusTraceLineAndNullCommand) {
  for (auto [cmd, status] : {std::pair{"true", 0}, {"exit 3", 768}, {"kill -9 $$", 9}, {"", 0},
                             {"no_such_command_brim 2>/dev/null", 127 * 256}})
    EXPECT_EQ(BrimSystem(cmd, 0), status) << cmd;
  EXPECT_EQ(unit::out_of([] { EXPECT_EQ(BrimSystem("echo hi", 1) + BrimSystem("echo quiet", 0) + BrimSystem(nullptr, 1), -1); }),
            "[system]: echo hi\r\nhi\nquiet\nBrimSystem: Null Command, Error!");
}

// In a child chrooted where /bin/sh cannot be run, each way the exec fails reads as the shell's 127.
TEST(BrimSystem, ShellThatCannotStartIsStatus127) {
  for (auto [shape, err] : {std::pair{"", ENOENT}, {"bin", ENOTDIR}, {"bin/sh 644", EACCES}, {"bin/sh 755", ENOEXEC},
                            {"bin/sh loop", ELOOP}}) {
    unit::TempDir root;
    const std::string kind = shape;
    if (kind == "bin") unit::put(root / "bin", "");
    if (kind.rfind("bin/sh", 0) == 0 && mkdir((root / "bin").c_str(), 0755) == 0) {
      if (kind == "bin/sh loop") (void)!symlink("sh", (root / "bin/sh").c_str());
      else unit::put(root / "bin/sh", std::string(4, '\0')), chmod((root / "bin/sh").c_str(), kind == "bin/sh 644" ? 0644 : 0755);
    }
    int status = -1;
    pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
      if (chroot(root.dir.c_str()) != 0 || chdir("/") != 0) _exit(2);
      char sh[] = "sh", *argv[] = {sh, nullptr};
      pid_t pid = fork();
      if (pid == 0) _exit(execv("/bin/sh", argv) != 0 && errno == err ? 3 : 4);
      if (waitpid(pid, &status, 0) != pid || status != 3 << 8) _exit(2);
      _exit(BrimSystem("true", 0) == 127 << 8 ? 0 : 1);
    }
    ASSERT_EQ(waitpid(kid, &status, 0), kid);
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no chroot here, or its exec does not fail with " << strerror(err);
    EXPECT_EQ(status, 0) << strerror(err);
  }
}

TEST(BrimSystem, BackgroundCommandReturnsAtOnce) {
  unit::TempDir tmp;
  const std::string marker = tmp / "bg";
  EXPECT_EQ(BrimSystem(("(sleep 0.3; touch " + marker + ") >/dev/null 2>&1 &").c_str(), 0), 0);
  EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the call waited for the background program";
  for (int i = 0; i < 100 && access(marker.c_str(), F_OK) != 0; ++i) usleep(50 * 1000);
  EXPECT_EQ(access(marker.c_str(), F_OK), 0) << "the background program did not keep running";
}

// A storm of caught signals without SA_RESTART: on the caller's thread (every wait and read is
// interrupted again and again) and on its whole process group, so every child gets them too
// between its creation and its exec. Commands run to their end with their output whole, the
// caller's handlers and mask stay, an ignored signal stays ignored in the shell, and no handler of
// the caller ever runs in a child. In a process of its own, the leader of its own group.
volatile sig_atomic_t g_caught = 0, g_in_child = 0;
pid_t g_parent = 0;
void on_storm(int) {
  g_caught = g_caught + 1;
  if (static_cast<pid_t>(syscall(SYS_getpid)) != g_parent) g_in_child = 1;
}

std::string storm_run() {
  setpgid(0, 0);
  g_parent = getpid();
  const int mine[] = {SIGUSR1, SIGALRM, SIGCHLD}, group[] = {SIGWINCH, SIGURG};  // the group's: ignored by default
  struct sigaction sa = {}, now = {};
  sa.sa_handler = on_storm;
  for (int sig : mine) sigaction(sig, &sa, nullptr);
  for (int sig : group) sigaction(sig, &sa, nullptr);
  signal(SIGTERM, SIG_IGN);
  std::atomic<bool> stop{false};
  pthread_t caller = pthread_self();
  std::thread storm([&] {
    for (unsigned i = 0; !stop; ++i) pthread_kill(caller, mine[i % 3]), kill(-g_parent, group[i % 2]), usleep(100);
  });
  std::string out;
  char buf[64] = {}, when[64] = {};
  out += std::to_string(getCmdStr("sleep 0.2; echo storm-line; echo second", buf, sizeof buf)) + " " + buf;
  out += std::string(" ") + std::to_string(get_Create_Time(when) ? std::strlen(when) : 0);
  out += " " + std::to_string(BrimSystem("sleep 0.2; kill -TERM $$; exit 5", 0));
  int failed = 0;
  for (int i = 0; i < 200; ++i) failed += BrimSystem("true", 0) != 0;
  out += " " + std::to_string(failed);
  stop = true;
  storm.join();
  sigaction(SIGALRM, nullptr, &now);
  sigset_t mask;
  sigprocmask(SIG_SETMASK, nullptr, &mask);
  out += std::string(now.sa_handler == on_storm ? " handler kept" : " handler changed") +
         (sigismember(&mask, SIGCHLD) || sigismember(&mask, SIGINT) ? " mask changed" : " mask kept") +
         (g_caught > 100 ? " stormed" : " calm") + (g_in_child ? " RAN IN A CHILD" : "");
  return out;
}

TEST(BrimSystem, SignalStormOnCallerAndChildren) {
  EXPECT_EQ(brim_test::in_child(storm_run), "0 storm-line 22 1280 0 handler kept mask kept stormed");
}

// The quoted text as the shell reads it is checked over a hostile corpus in shell_quote_corpus_test.cpp.
TEST(ShellQuote, WhatDoesNotFitIsRefused) {
  for (auto [text, rc, quoted] : {std::tuple{"abcde", 7, "'abcde'"}, {"abcdef", -1, ""}, {"a'", 7, "'a'\\'''"}, {"ab'", -1, ""},
                                  {nullptr, -1, "x"}}) {
    char out[8] = "x";
    EXPECT_EQ(brim_shell_quote(text, out, sizeof out), rc) << text;
    if (text) EXPECT_STREQ(out, quoted);
  }
  char none[1] = {'x'};  // a block of no size is not written, not even its terminator
  EXPECT_EQ(brim_shell_quote("a", none, 0), -1);
  EXPECT_EQ(none[0], 'x');
}

TEST(Capture, FirstLineCutToTheBufferAndSilentCommands) {
  // Reader, command, buffer size -> result and text; a silent command leaves getCmdResult's buffer untouched
  // apart from its last byte. Buffers are exactly the size given, so the sanitizer sees a longer write.
  for (auto [reader, cmd, size, rc, text] : {std::tuple{&getCmdResult, "printf 'one\\ntwo\\n'", 32, 0, "one"},
                                             {&getCmdStr, "printf 'alpha\\nbeta\\n'", 32, 0, "alpha"},
                                             {&getCmdResult, "echo hi", 1, 0, ""}, {&getCmdStr, "echo hi", 1, 0, ""}}) {
    std::unique_ptr<char[]> buf(new char[size]);
    std::memset(buf.get(), 'x', size), std::memcpy(buf.get(), "keep", std::min(size, 5));
    EXPECT_EQ(reader(cmd, buf.get(), size), rc) << cmd;
    EXPECT_STREQ(buf.get(), text) << cmd;
  }
  for (auto [cmd, v] : {std::pair{"printf '42 apples\\n7\\n'", 42}, {"echo x42", 0}, {"true", 0}}) EXPECT_EQ(getCmdVal(cmd), v) << cmd;
  char guard[4] = {'a', 'b', 'c', 'd'};  // no size, no write
  EXPECT_EQ(getCmdResult("echo hi", guard + 2, 0) + getCmdResult("echo hi", guard + 2, -5) + getCmdStr("echo hi", guard + 2, 0), -3);
  EXPECT_EQ(std::string(guard, 4), "abcd");
  // Every reader closes its pipe and reaps its shell: no descriptor and no child is left behind.
  long before = unit::open_fds();
  char buf[8];
  getCmdResult("echo hi", buf, sizeof buf), getCmdStr("echo hi", buf, sizeof buf), getCmdVal("echo 1");
  EXPECT_EQ(unit::open_fds(), before);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  // A name that cannot be an interface's runs nothing and gives the last channel read: none yet.
  EXPECT_EQ(getWirelessChannel("wlan0;reboot"), 0);
}

TEST(Capture, DateTextHasTheTwelveHourForm) {
  char buf[64], ampm[3] = {};
  std::memset(buf, '#', sizeof buf);  // the terminator must be the function's
  ASSERT_EQ(get_Create_Time(buf), buf);
  ASSERT_EQ(std::strlen(buf), 22u) << buf;
  int y, mo, d, h, mi, s;
  EXPECT_EQ(std::sscanf(buf, "%4d-%2d-%2d %2d:%2d:%2d %2s", &y, &mo, &d, &h, &mi, &s, ampm), 7) << buf;
  EXPECT_TRUE((std::string(ampm) == "AM" || std::string(ampm) == "PM") && h >= 1 && h <= 12) << buf;
}

}  // namespace
