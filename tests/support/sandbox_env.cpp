#include "tests/support/sandbox_env.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"

extern char **environ;

namespace brim_test {
namespace {

std::vector<std::string> g_store_dirs;  // made by use_store, removed after each test

// Runs args with stdin from /dev/null, output through a temporary file.
CmdResult spawn(const Lines &args) {
  CmdResult r;
  char tmpl[] = "/tmp/brim_test_XXXXXX";
  int out = mkostemp(tmpl, O_CLOEXEC);
  if (out < 0) return r;
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out, 1);
  posix_spawn_file_actions_adddup2(&fa, out, 2);
  pid_t pid;
  int st = 0;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
    r.output = read_file(tmpl);
  }
  posix_spawn_file_actions_destroy(&fa);
  close(out);
  unlink(tmpl);
  return r;
}

std::string journal_path() {
  const char *j = std::getenv("BRIM_JOURNAL");
  return j && *j ? j : "/var/log/brim.journal";
}

}  // namespace

bool in_sandbox() {
  const char *v = std::getenv("BRIM_SANDBOX");
  return v && std::strcmp(v, "1") == 0;
}

void SandboxTest::SetUp() {
  BRIM_REQUIRE_SANDBOX();
  setenv("APMIB_STORE", "/etc/apmib.store", 1);
  unsetenv("BRIM_SH_JOURNAL");
  clear_journal();
  prepare();
}

void SandboxTest::TearDown() {
  if (!IsSkipped()) cleanup();
  for (const std::string &dir : g_store_dirs) std::filesystem::remove_all(dir);
  g_store_dirs.clear();
}

void clear_journal() { write_file(journal_path(), ""); }

Lines journal_lines() {
  Lines lines;
  std::string all = read_file(journal_path());
  for (size_t start = 0, nl; start < all.size(); start = nl + 1) {
    if ((nl = all.find('\n', start)) == std::string::npos) nl = all.size();
    lines.push_back(all.substr(start, nl - start));
  }
  return lines;
}

Lines journal_lines_of(std::string_view name) {
  Lines out;
  std::string args = std::string(name) + " ", input = std::string(name) + "<stdin> ";
  for (const std::string &l : journal_lines())
    if (l == name || l.rfind(args, 0) == 0 || l.rfind(input, 0) == 0) out.push_back(l);
  return out;
}

Lines sh_commands() {
  Lines out;
  for (const std::string &l : journal_lines())
    if (l.rfind("sh -c ", 0) == 0) out.push_back(l.substr(6));
  return out;
}

std::string journal_quote(std::string_view arg) {
  if (!arg.empty() && arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-") ==
                          std::string_view::npos)
    return std::string(arg);
  std::string q = "\"";
  for (char ch : arg) {
    unsigned char c = static_cast<unsigned char>(ch);
    const char *esc = c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
    char hex[5];
    if (!esc && (c < 0x20 || c == 0x7f)) std::snprintf(hex, sizeof hex, "\\x%02x", c), esc = hex;
    if (esc) q += esc;
    else q += ch;
  }
  return q + "\"";
}

// With read(2): a stream throws when a /proc file's process dies under the read (ESRCH); here
// that is what was read so far, as for a file that vanished.
std::string read_file(const std::string &path) {
  std::string out;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) out.append(buf, static_cast<size_t>(n));
  ::close(fd);
  return out;
}

bool write_file(const std::string &path, std::string_view content) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
  return std::fclose(f) == 0 && ok;
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string md5_hex(std::string_view data) {
  MD5_CTX ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, data.data(), static_cast<uint32_t>(data.size()));
  unsigned char d[16];
  MD5Final(d, &ctx);
  char out[33];
  for (int i = 0; i < 16; ++i) std::snprintf(out + 2 * i, 3, "%02x", d[i]);
  return out;
}

std::string json_text(const std::string &json, const char *name) {
  cJSON *o = cJSON_Parse(json.c_str());
  const char *s = cJSON_GetStringValue(cJSON_GetObjectItem(o, name));
  std::string out = s ? s : "";
  cJSON_Delete(o);
  return out;
}

CmdResult run_shell(const std::string &cmd) { return spawn({"/bin/sh", "-c", cmd}); }

CmdResult run_program(const Lines &argv) { return spawn(argv); }

std::vector<pid_t> find_processes(std::string_view name) {
  std::vector<pid_t> pids;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator("/proc", ec)) {
    std::string base = e.path().string(), pid = e.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || trimmed(read_file(base + "/comm")) != name) continue;
    // A zombie has finished: its state, after the parenthesised name, is Z.
    std::string stat = read_file(base + "/stat");
    size_t paren = stat.rfind(')');
    if (paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z') pids.push_back(std::stoi(pid));
  }
  return pids;
}

bool wait_for_process(std::string_view name, bool present, int limit_ms) {
  return wait_until([&] { return find_processes(name).empty() != present; }, limit_ms);
}

void boot_router(const std::string &before, const std::string &out) {
  // An old broker must be gone first, or the boot's new one cannot bind its port.
  run_shell("killall vz_broker 2>/dev/null");
  ASSERT_TRUE(wait_for_process("vz_broker", false));
  CmdResult r = run_shell("unset BRIM_MQTT_PORT BRIM_VZ_SUB_FAIL; " + before + " brim_init >" + out + " 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(wait_for_process("brim_sub", true, 20000));
  ASSERT_TRUE(wait_until([] { return accepts_connections(1883); }, 20000));
}

std::string use_store(std::string_view text) {
  char tmpl[] = "/tmp/brim_store_XXXXXX";
  if (!mkdtemp(tmpl)) return {};
  g_store_dirs.push_back(tmpl);
  std::string path = std::string(tmpl) + "/apmib.store";
  if (!write_file(path, text)) return {};
  setenv("APMIB_STORE", path.c_str(), 1);
  return path;
}

void load_store(const std::string &overrides) {
  use_store(factory_store() + "\n" + overrides);
  ASSERT_NE(apmib_init(), 0);
}

std::string factory_store() {
  const char *repo = std::getenv("BRIM_REPO");
  return read_file(std::string(repo ? repo : ".") + "/platform/factory.store");
}

std::string linktime() {
  char buf[32];
  std::memset(buf, '#', sizeof buf);
  buf[31] = '\0';
  getWanLinktime(buf);
  return buf;
}

std::string connect_status() {
  char buf[16] = "unset";
  get_wan_connect_status(buf);
  return buf;
}

}  // namespace brim_test
