// File primitives, path tests and small-file readers, on real files in a private directory under /tmp.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/unit/unit.h"

namespace {

using unit::put, unit::slurp, unit::stream_of;

class Files : public ::testing::Test {
 protected:
  void SetUp() override { old_mask_ = umask(022); }
  void TearDown() override { umask(old_mask_); }
  std::string p(const char *name) const { return tmp_ / name; }
  static mode_t perms(const std::string &path) { struct stat st {}; return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777; }
  unit::TempDir tmp_;
  mode_t old_mask_ = 0;
};

TEST_F(Files, WriteCreatesWithExactModeAndRestoresMask) {
  // Path, flags, mode -> result and the file's mode; the mask 022 is never applied, and is restored even after a failed open.
  for (auto [name, flags, mode, rc, perm] : {std::tuple{"a", 0, 0, 1, 0666u}, {"b", 0, 0600, 1, 0600u},
                                             {"g", WRITE_FLAG_APPEND, 0, 1, 0666u}, {"nodir/c", 0, 0, -1, 07777u}}) {
    EXPECT_EQ(f_write(p(name).c_str(), "x", 1, flags, mode), rc) << name;
    EXPECT_EQ(perms(p(name)), perm) << name;
    EXPECT_EQ(umask(022), 022u) << name;
  }
}

TEST_F(Files, WriteTruncatesOrAppendsAndCountsTheNewline) {
  const struct { const char *data; int len, flags, rc; const char *content; } steps[] = {
      {"first line", 10, 0, 10, "first line"}, {"abc", 3, 0, 3, "abc"}, {"de", 2, WRITE_FLAG_APPEND, 2, "abcde"},
      {"12345", 5, WRITE_FLAG_NEWLINE, 6, "12345\n"}, {nullptr, 0, 0, -1, ""}, {nullptr, 0, WRITE_FLAG_NEWLINE, 0, "\n"},
      {nullptr, 0, WRITE_FLAG_NEWLINE | WRITE_FLAG_APPEND, 0, "\n\n"},
      {"", 0, WRITE_FLAG_NEWLINE, 1, "\n"},     // empty data is data
      {"abc", -1, WRITE_FLAG_NEWLINE, -1, ""},  // a failed data write writes no newline
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(std::string(s.data ? s.data : "(null)") + " flags " + std::to_string(s.flags));
    EXPECT_EQ(f_write(p("f").c_str(), s.data, s.len, s.flags, 0), s.rc);
    EXPECT_EQ(slurp(p("f")), s.content);
  }
  // /dev/full takes the open but refuses every write.
  if (access("/dev/full", W_OK) == 0) EXPECT_EQ(f_write("/dev/full", "abc", 3, WRITE_FLAG_NEWLINE | WRITE_FLAG_APPEND, 0), -1);
  EXPECT_EQ(f_write(nullptr, "abc", 3, 0, 0), -1);
}

TEST_F(Files, ReadAtOffsets) {
  put(p("r"), "0123456789");
  // Path, offset -> result and the bytes then in the buffer: no terminator added; a directory opens but reading fails.
  for (auto [path, off, rc, shown] : {std::tuple{p("r"), 3, 4, "3456#"}, {p("r"), 8, 2, "89###"}, {p("r"), 10, 0, "#####"},
                                      {p("r"), 100, 0, "#####"}, {p("missing"), 0, -1, "#####"}, {tmp_.dir, 0, -1, "#####"}}) {
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(f_read(path.c_str(), buf, off, off == 8 ? 10 : 4), rc) << path << "@" << off;
    EXPECT_EQ(std::string(buf, 5), shown) << path << "@" << off;
  }
  char buf[4];
  EXPECT_EQ(f_read(p("r").c_str(), buf, 0, -1), -1);
  EXPECT_EQ(f_read(nullptr, buf, 0, 4) + f_read(p("r").c_str(), buf, 0, 0), -1);  // no path; nothing asked
}

TEST_F(Files, WriteLineModesAndLongLines) {
  std::string f = p("line");
  EXPECT_EQ(unit::err_of([&] { EXPECT_EQ(write_line_to_file(f.c_str(), 2, "x"), 0); }), "Create " + f + " error!\n");
  EXPECT_NE(access(f.c_str(), F_OK), 0);
  EXPECT_EQ(write_line_to_file(f.c_str(), 1, "one") + write_line_to_file(f.c_str(), 2, " two\n"), 2);
  EXPECT_EQ(slurp(f), "one two\n");
  EXPECT_EQ(perms(f), 0644u);  // created under the caller's mask
  EXPECT_EQ(write_line_to_file(f.c_str(), 1, "new"), 1);
  EXPECT_EQ(write_line_to_file(f.c_str(), 3, "other"), 0);
  EXPECT_EQ(slurp(f), "new");
  for (const std::string &line : {std::string(5000, 'q') + "end", std::string(512, 'w')}) {  // longer than any fixed buffer
    EXPECT_EQ(write_line_to_file(f.c_str(), 1, line.c_str()), 1);
    EXPECT_EQ(slurp(f), line);
  }
}

TEST_F(Files, LockCycleAndARaceWithExactlyOneWinner) {
  const std::string lock = p("lock");
  const char *l = lock.c_str();
  EXPECT_EQ(unlock_file(l), 1);  // nothing to remove
  EXPECT_EQ(lock_file(l), 1);
  EXPECT_EQ(perms(l), 0400u);
  EXPECT_EQ(lock_file(l), 0);
  EXPECT_EQ(unlock_file(l), 1);
  EXPECT_NE(access(l, F_OK), 0);
  EXPECT_EQ(lock_file(p("nodir/lock").c_str()), 0);  // a lock that cannot be created is not taken
  for (int round = 0; round < 5; ++round) {
    int gate[2], winners = 0;
    ASSERT_EQ(pipe(gate), 0);
    pid_t kids[16];
    for (pid_t &kid : kids) {
      ASSERT_GE(kid = fork(), 0);
      if (kid != 0) continue;
      close(gate[1]);
      char c;
      (void)!read(gate[0], &c, 1);  // all start together when the gate closes
      _exit(lock_file(l));
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t k : kids) {
      int status = 0;
      ASSERT_EQ(waitpid(k, &status, 0), k);
      winners += WIFEXITED(status) ? WEXITSTATUS(status) : 100;  // a crash is never a winner
    }
    EXPECT_EQ(winners, 1) << "round " << round;
    unlock_file(l);
  }
}

TEST_F(Files, PathTestsForEachKindOfPathAndSizes) {
  ASSERT_EQ(mkdir(p("d").c_str(), 0755) | symlink(p("d").c_str(), p("ld").c_str()) |
            symlink(p("nowhere").c_str(), p("dangling").c_str()), 0);
  put(p("f"), "hello");
  put(p("e"), "");
  // isFileExist, f_exists, f_file_exist, d_exist, l_exist; a link to a directory is followed by all but l_exist.
  using A = std::array<int, 5>;
  for (const auto &[path, want] : {std::pair{p("d"), A{1, 0, 0, 1, 0}}, {p("f"), {1, 1, 1, 0, 0}},
                                   {p("ld"), {1, 0, 0, 1, 1}}, {p("dangling"), {0, 0, 0, 0, 1}},
                                   {"/dev/null", {1, 1, 0, 0, 0}}, {p("missing"), {0, 0, 0, 0, 0}}, {"", {0, 0, 0, 0, 0}}}) {
    const char *s = path.c_str();
    EXPECT_EQ((A{isFileExist(s), f_exists(s), f_file_exist(s), d_exist(s), l_exist(s)}), want) << s;
  }
  for (auto [path, size] : {std::pair{p("f"), 5}, {p("missing"), -1}, {"", -1}, {p("e"), 0}}) EXPECT_EQ(f_size(path.c_str()), size) << path;
  // Past 2 GiB the size is clamped rather than wrapped into the failure value.
  ASSERT_EQ(truncate(p("e").c_str(), 3LL << 30), 0);
  EXPECT_EQ(f_size(p("e").c_str()), INT32_MAX);
}

TEST(StreamReaders, LinesOneAtATimeWithoutTerminatorAndTheRest) {
  for (auto reader : {nsqreadline, nullReadline}) {
    FILE *f = stream_of("ab\ncd");
    ASSERT_NE(f, nullptr);
    char buf[16];
    std::memset(buf, 'Z', sizeof buf);
    reader(buf, f);
    EXPECT_EQ(std::string(buf, 3), "abZ");  // no terminator written
    std::memset(buf, 0, sizeof buf);
    reader(buf, f);
    EXPECT_STREQ(buf, "cd");  // a last line without newline, each byte once
    std::memset(buf, 'x', 4);
    reader(buf, f);  // at end of file, or without a stream, nothing is stored
    fclose(f);
    reader(buf, nullptr);
    EXPECT_EQ(std::string(buf, 4), "xxxx");
  }
  FILE *f = stream_of("skip\nab\n\ncd\n");
  char buf[32] = {};
  nsqreadline(buf, f);
  std::memset(buf, 0, sizeof buf);
  ReadAllFile(buf, f);
  EXPECT_STREQ(buf, "ab\n\ncd\n");  // from the position, newlines kept
  fclose(f);
}

TEST_F(Files, StrFromFileEndsInPlaceOfLastByte) {
  for (auto [bytes, text] : {std::pair{"abc\n", "abc"}, {"abc", "ab"}, {"", ""}, {"a\nb\n", "a\nb"}}) {
    put(p("f"), bytes);
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(getStrFromFile(p("f").c_str(), buf), static_cast<int>(std::strlen(text))) << bytes;
    EXPECT_STREQ(buf, text);
  }
  char buf[8] = "keep";
  EXPECT_EQ(getStrFromFile(p("missing").c_str(), buf), -1);
  EXPECT_STREQ(buf, "keep");
}

TEST_F(Files, TmpReadersNameAFileUnderTmpAndNeverACutName) {
  const std::string name = tmp_.dir.substr(5) + "/v";  // a name under /tmp, unique to this run
  put("/tmp/" + name, "0123456789abcdef0123456789abcdef\n");
  char text[40], buf[8] = "keep";
  EXPECT_EQ(getStrFromTmp(name.c_str(), text), 32);
  EXPECT_STREQ(text, "0123456789abcdef0123456789abcdef");
  for (auto [bytes, val] : {std::pair{"42\n", 42}, {" -7\n", -7}, {"abc\n", 0}, {"", 0}, {"12abc\n", 12},
                            {"\n5\n", 0} /* only the first line counts */, {"99999999999\n", INT32_MAX}}) {
    put("/tmp/" + name, bytes);
    EXPECT_EQ(getValFromTmp(name.c_str()), val) << bytes;
  }
  EXPECT_EQ(getValFromTmp((name + "-missing").c_str()), 0);
  // "/tmp/" and 58 characters fill the 64-byte path; one more must not read the cut name.
  std::string fits = tmp_.dir.substr(5) + "/";
  fits += std::string(58 - fits.size(), 'n');
  put("/tmp/" + fits, "7\n");
  EXPECT_EQ(getValFromTmp(fits.c_str()), 7);
  EXPECT_EQ(getValFromTmp((fits + "X").c_str()), 0);
  EXPECT_EQ(getStrFromTmp((fits + "X").c_str(), buf), -1);
  EXPECT_STREQ(buf, "keep");
}

}  // namespace
