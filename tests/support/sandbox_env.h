// Helpers for the system tests, which run inside sandbox/brim-sandbox (the simulated router).
// Journal ($BRIM_JOURNAL, default /var/log/brim.journal): one line per call of a stand-in program
// (platform/bin): NAME, then per argument a space and the argument, quoted as journal_quote()
// does; passwd also writes "passwd<stdin> LINE" per line fed to it. While BRIM_SH_JOURNAL is set,
// also "sh -c CMD" per shell command, with line feeds written as \n.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

namespace brim_test {

using Lines = std::vector<std::string>;

bool in_sandbox();  // brim-sandbox sets BRIM_SANDBOX=1
#define BRIM_REQUIRE_SANDBOX() \
  if (!::brim_test::in_sandbox()) GTEST_SKIP() << "needs the simulated router: run through sandbox/brim-sandbox"

// Skips outside the sandbox; before each test clears the journal, points APMIB_STORE at
// /etc/apmib.store, unsets BRIM_SH_JOURNAL and calls prepare(); after it, cleanup() (unless
// skipped) and removes what use_store() made.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  virtual void prepare() {}
  virtual void cleanup() {}
};

void clear_journal();
Lines journal_lines();
Lines journal_lines_of(std::string_view name);  // also "name<stdin>" lines
Lines sh_commands();                            // CMD of every "sh -c CMD" line, in order
// An argument as the journal writes it: as it is when not empty and only A-Z a-z 0-9 _@%+=:,./-,
// else in double quotes with \\ \" \n \t \r and \xHH for other control bytes.
std::string journal_quote(std::string_view arg);

// Polls `done` every 20 ms for at most about `limit_ms`; returns whether it came true.
template <class Done>
bool wait_until(Done done, int limit_ms = 5000) {
  for (int waited = 0;; waited += 20) {
    if (done()) return true;
    if (waited >= limit_ms) return false;
    usleep(20 * 1000);
  }
}

std::string read_file(const std::string &path);  // "" when unreadable
bool write_file(const std::string &path, std::string_view content);
bool exists(const std::string &path);  // lstat succeeds
std::string trimmed(std::string s);    // without trailing line ends
std::string md5_hex(std::string_view data);
std::string json_text(const std::string &json, const char *name);  // a text member; "" if none

struct CmdResult {
  int status = -1;     // exit status, 128 + signal when killed, -1 when it could not run
  std::string output;  // standard output and error, interleaved
};
// "/bin/sh -c cmd", waiting for that shell only (a background daemon never makes it hang).
CmdResult run_shell(const std::string &cmd);
CmdResult run_program(const Lines &argv);  // argv[0] from PATH with exactly these arguments
#define BRIM_SH(cmd)                                          \
  do {                                                        \
    ::brim_test::CmdResult r_ = ::brim_test::run_shell(cmd);  \
    ASSERT_EQ(r_.status, 0) << (cmd) << ": " << r_.output;    \
  } while (0)
struct Restore {  // runs a shell command however the test ends
  std::string cmd;
  ~Restore() { run_shell(cmd); }
};

std::vector<pid_t> find_processes(std::string_view name);  // live, by /proc/PID/comm
bool wait_for_process(std::string_view name, bool present, int limit_ms = 5000);
// Boots with brim_init (extra shell words before it, its output to `out`) once the old broker
// is gone, and waits for the subscriber and the broker on port 1883.
void boot_router(const std::string &before = "", const std::string &out = "/dev/null");

// Writes `text` as a fresh store file under /tmp and points APMIB_STORE at it; returns its path.
std::string use_store(std::string_view text);
// use_store(factory store + overrides) and apmib_init() in this process.
void load_store(const std::string &overrides = "");
std::string factory_store();  // platform/factory.store; a later line for a key wins

// What the WAN time and status readers write.
std::string linktime();
std::string connect_status();

}  // namespace brim_test
