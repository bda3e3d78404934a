#include "tests/support/sandbox_env.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace brim_test {
namespace {

bool plain(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              std::strchr("_@%+=:,./-", c) != nullptr;
    if (!ok) return false;
  }
  return true;
}

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int decode_status(int st) {
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}

int wait_child(pid_t pid) {
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return decode_status(st);
}

// A temporary file under /tmp, removed when this goes out of scope.
struct TempFile {
  std::string path;
  int fd = -1;
  TempFile() {
    char tmpl[] = "/tmp/brim_test_XXXXXX";
    fd = mkostemp(tmpl, O_CLOEXEC);
    if (fd >= 0) path = tmpl;
  }
  ~TempFile() {
    if (fd >= 0) close(fd);
    if (!path.empty()) unlink(path.c_str());
  }
};

// Spawns argv with stdin from `in_fd` and stdout/stderr into `out_fd`; returns the exit status.
CmdResult spawn(const std::vector<std::string> &args, int in_fd) {
  CmdResult r;
  TempFile out;
  if (out.fd < 0) return r;
  std::vector<char *> argv;
  for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (in_fd >= 0)
    posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  else
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out.fd, 1);
  posix_spawn_file_actions_adddup2(&fa, out.fd, 2);
  pid_t pid;
  int err = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (err != 0) return r;
  r.status = wait_child(pid);
  r.output = read_file(out.path);
  return r;
}

}  // namespace

bool in_sandbox() {
  const char *v = std::getenv("BRIM_SANDBOX");
  return v && std::strcmp(v, "1") == 0;
}

namespace {
std::vector<std::string> g_store_dirs;  // made by use_store, removed after each test
}  // namespace

void SandboxTest::SetUp() {
  BRIM_REQUIRE_SANDBOX();
  setenv("APMIB_STORE", "/etc/apmib.store", 1);
  unsetenv("BRIM_SH_JOURNAL");
  clear_journal();
}

void SandboxTest::TearDown() {
  for (const std::string &dir : g_store_dirs) {
    unlink((dir + "/apmib.store").c_str());
    rmdir(dir.c_str());
  }
  g_store_dirs.clear();
}

std::string journal_path() {
  const char *j = std::getenv("BRIM_JOURNAL");
  return j && *j ? j : "/var/log/brim.journal";
}

void clear_journal() { write_file(journal_path(), ""); }

std::vector<std::string> journal_lines() {
  std::vector<std::string> lines;
  std::string all = read_file(journal_path());
  size_t start = 0;
  while (start < all.size()) {
    size_t nl = all.find('\n', start);
    if (nl == std::string::npos) nl = all.size();
    lines.push_back(all.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::vector<std::string> journal_lines_of(std::string_view name) {
  std::vector<std::string> out;
  std::string args = std::string(name) + " ", input = std::string(name) + "<stdin> ";
  for (const std::string &l : journal_lines())
    if (l == name || l.rfind(args, 0) == 0 || l.rfind(input, 0) == 0) out.push_back(l);
  return out;
}

std::vector<std::string> sh_commands() {
  std::vector<std::string> out;
  for (const std::string &l : journal_lines())
    if (l.rfind("sh -c ", 0) == 0) out.push_back(l.substr(6));
  return out;
}

std::string journal_quote(std::string_view arg) {
  if (plain(arg)) return std::string(arg);
  std::string q = "\"";
  for (char ch : arg) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\': q += "\\\\"; break;
      case '"': q += "\\\""; break;
      case '\n': q += "\\n"; break;
      case '\t': q += "\\t"; break;
      case '\r': q += "\\r"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          q += hex;
        } else {
          q += ch;
        }
    }
  }
  return q + "\"";
}

std::string journal_line(const std::vector<std::string> &argv) {
  std::string line;
  for (size_t i = 0; i < argv.size(); ++i) {
    if (i) line += ' ';
    line += i == 0 ? argv[i] : journal_quote(argv[i]);
  }
  return line;
}

bool parse_journal_line(std::string_view line, std::vector<std::string> *argv) {
  std::vector<std::string> out;
  size_t sp = line.find(' ');
  out.emplace_back(line.substr(0, sp));
  if (out[0].empty()) return false;
  size_t i = sp == std::string_view::npos ? line.size() : sp;
  while (i < line.size()) {
    if (line[i] != ' ') return false;
    ++i;
    std::string arg;
    if (i < line.size() && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          arg += c;
          continue;
        }
        if (i >= line.size()) return false;
        char e = line[i++];
        switch (e) {
          case '\\': arg += '\\'; break;
          case '"': arg += '"'; break;
          case 'n': arg += '\n'; break;
          case 't': arg += '\t'; break;
          case 'r': arg += '\r'; break;
          case 'x': {
            if (i + 2 > line.size() || hexval(line[i]) < 0 || hexval(line[i + 1]) < 0) return false;
            arg += static_cast<char>(hexval(line[i]) * 16 + hexval(line[i + 1]));
            i += 2;
            break;
          }
          default: return false;
        }
      }
      if (!closed || (i < line.size() && line[i] != ' ')) return false;
    } else {
      size_t end = line.find(' ', i);
      if (end == std::string_view::npos) end = line.size();
      arg = std::string(line.substr(i, end - i));
      if (!plain(arg)) return false;
      i = end;
    }
    out.push_back(std::move(arg));
  }
  *argv = std::move(out);
  return true;
}

bool wait_for_journal_line(std::string_view line, int limit_ms) {
  for (int waited = 0;; waited += 20) {
    for (const std::string &l : journal_lines())
      if (l == line) return true;
    if (waited >= limit_ms) return false;
    usleep(20 * 1000);
  }
}

std::string read_file(const std::string &path, bool *ok) {
  std::string s;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (ok) *ok = fd >= 0;
  if (fd < 0) return s;
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && ok) *ok = false;
    if (n <= 0) break;
    s.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return s;
}

bool write_file(const std::string &path, std::string_view content) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (!content.empty()) {
    ssize_t n = write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  return close(fd) == 0 && ok;
}

bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

CmdResult run_shell(const std::string &cmd) { return spawn({"/bin/sh", "-c", cmd}, -1); }

CmdResult run_program(const std::vector<std::string> &argv, std::string_view input) {
  if (argv.empty()) return {};
  TempFile in;
  if (in.fd < 0 || !write_file(in.path, input)) return {};
  int fd = open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  CmdResult r = spawn(argv, fd);
  close(fd);
  return r;
}

std::vector<pid_t> find_processes(std::string_view name) {
  std::vector<pid_t> pids;
  DIR *d = opendir("/proc");
  if (!d) return pids;
  while (struct dirent *e = readdir(d)) {
    char *end;
    long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    std::string base = std::string("/proc/") + e->d_name;
    std::string comm = read_file(base + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    if (comm != name) continue;
    // A zombie has finished: its state, after the parenthesised name, is Z.
    std::string stat = read_file(base + "/stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z') continue;
    pids.push_back(static_cast<pid_t>(pid));
  }
  closedir(d);
  return pids;
}

bool wait_for_process(std::string_view name, bool present, int limit_ms) {
  for (int waited = 0;; waited += 20) {
    if (find_processes(name).empty() != present) return true;
    if (waited >= limit_ms) return false;
    usleep(20 * 1000);
  }
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

std::string factory_store() {
  const char *repo = std::getenv("BRIM_REPO");
  return read_file(std::string(repo ? repo : ".") + "/platform/factory.store");
}

}  // namespace brim_test
