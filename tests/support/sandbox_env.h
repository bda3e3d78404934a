// Helpers for system tests, which run inside sandbox/brim-sandbox (the simulated router).
//
// Journal ($BRIM_JOURNAL, default /var/log/brim.journal): one line per call of a stand-in program
// (platform/bin) and, while BRIM_SH_JOURNAL is set, one line per "/bin/sh -c CMD".
//  - stand-in line: NAME, then per argument one space and the argument; an argument that is not
//    empty and holds only A-Z a-z 0-9 _ @ % + = : , . / - is written as it is, any other inside
//    double quotes with \\ \" \n \t \r and \xHH (other bytes below 0x20, and 0x7f) escaped.
//    passwd also writes one line "passwd<stdin> LINE" per line fed to it, LINE quoted the same way.
//  - shell line: "sh -c " then CMD as it is, with line feeds written as \n and carriage returns
//    as \r; further arguments after CMD are quoted as above.
// Build expected lines with journal_line(); decode lines with parse_journal_line().
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace brim_test {

// True inside brim-sandbox (it sets BRIM_SANDBOX=1).
bool in_sandbox();

// Skips the current test, with a message, unless it runs inside the sandbox. Use at the top of a
// TEST body or SetUp.
#define BRIM_REQUIRE_SANDBOX()                                                                   \
  do {                                                                                           \
    if (!::brim_test::in_sandbox())                                                              \
      GTEST_SKIP() << "needs the simulated router: run through sandbox/brim-sandbox (ctest -R system)"; \
  } while (0)

// Fixture base: skips outside the sandbox; before each test it clears the journal, points
// APMIB_STORE back at the sandbox's /etc/apmib.store and unsets BRIM_SH_JOURNAL, and after it
// removes the store files that use_store() made, so tests do not depend on their order.
class SandboxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// --- the journal ---
std::string journal_path();
void clear_journal();
std::vector<std::string> journal_lines();           // every line, without line breaks
std::vector<std::string> journal_lines_of(std::string_view name);  // lines whose NAME is name
                                                    // (also "name<stdin>" lines for name)
std::vector<std::string> sh_commands();             // CMD of every "sh -c CMD" line, in order,
                                                    // as recorded (line feeds as \n)
std::string journal_quote(std::string_view arg);    // one argument as the journal writes it
std::string journal_line(const std::vector<std::string> &argv);  // NAME + quoted arguments
// Splits a stand-in line back into NAME and arguments; false when the line is malformed.
bool parse_journal_line(std::string_view line, std::vector<std::string> *argv);
// Waits until the journal holds `line` (programs started in the background with "&" write
// theirs whenever they get to it). Polls for at most about `limit_ms`; returns whether it came.
bool wait_for_journal_line(std::string_view line, int limit_ms = 5000);

// --- files ---
// Whole file; empty when it cannot be read (then *ok is false when ok is given).
std::string read_file(const std::string &path, bool *ok = nullptr);
bool write_file(const std::string &path, std::string_view content);
bool exists(const std::string &path);  // lstat succeeds

// --- commands ---
struct CmdResult {
  int status = -1;     // exit status, 128 + signal number when killed, -1 when it could not run
  std::string output;  // standard output and standard error, interleaved
};
// Runs "/bin/sh -c cmd" and waits for that shell only. Output goes through a temporary file, so
// a daemon started in the background (which keeps the descriptor) never makes this hang.
CmdResult run_shell(const std::string &cmd);
// Runs argv[0] (searched in PATH) with exactly these arguments and `input` on standard input;
// result as run_shell.
CmdResult run_program(const std::vector<std::string> &argv, std::string_view input = {});

// --- processes of this PID namespace ---
// Pids of live processes (zombies excluded) whose name (/proc/PID/comm) is `name`.
std::vector<pid_t> find_processes(std::string_view name);
// Waits until a process named `name` is running (present) or none is (!present). Polls for at
// most about `limit_ms`; returns whether the wanted state was reached. Not a timing check.
bool wait_for_process(std::string_view name, bool present, int limit_ms = 5000);

// --- the configuration store ---
// Writes `text` (store file syntax) to a fresh file under /tmp, sets APMIB_STORE to it and returns
// its path (removed by SandboxTest's TearDown). Call apmib_init() afterwards in this process; child processes see it through the
// environment.
std::string use_store(std::string_view text);
// The factory-default store text (platform/factory.store), to append overrides to: a later line
// for the same key wins.
std::string factory_store();

}  // namespace brim_test
