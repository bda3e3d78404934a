#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "brimlib.h"

namespace {

class FileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brim_fio_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_mask_ = umask(022);
  }
  void TearDown() override {
    umask(old_mask_);
    std::system(("rm -rf " + dir_).c_str());
  }
  std::string p(const char *name) const { return dir_ + "/" + name; }
  static std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static mode_t perms(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 07777;
    return st.st_mode & 07777;
  }
  std::string dir_;
  mode_t old_mask_ = 0;
};

TEST_F(FileIo, WriteCreatesWithExactModeAndRestoresMask) {
  EXPECT_EQ(f_write(p("a").c_str(), "hello", 5, 0, 0), 5);
  EXPECT_EQ(perms(p("a")), 0666u);  // the mask 022 is not applied
  EXPECT_EQ(f_write(p("b").c_str(), "x", 1, 0, 0600), 1);
  EXPECT_EQ(perms(p("b")), 0600u);
  EXPECT_EQ(umask(022), 022u);  // restored after the call
  EXPECT_EQ(f_write(p("nodir/c").c_str(), "x", 1, 0, 0), -1);
  EXPECT_EQ(umask(022), 022u);  // restored after a failed open too
}

TEST_F(FileIo, WriteTruncatesOrAppends) {
  std::string f = p("f");
  EXPECT_EQ(f_write(f.c_str(), "first line", 10, 0, 0), 10);
  EXPECT_EQ(f_write(f.c_str(), "abc", 3, 0, 0), 3);
  EXPECT_EQ(slurp(f), "abc");
  EXPECT_EQ(f_write(f.c_str(), "de", 2, WRITE_FLAG_APPEND, 0), 2);
  EXPECT_EQ(slurp(f), "abcde");
  std::string g = p("g");  // append creates a missing file
  EXPECT_EQ(f_write(g.c_str(), "z", 1, WRITE_FLAG_APPEND, 0), 1);
  EXPECT_EQ(slurp(g), "z");
  EXPECT_EQ(perms(g), 0666u);
}

TEST_F(FileIo, WriteResultsWithAndWithoutDataAndNewline) {
  std::string f = p("f");
  EXPECT_EQ(f_write(f.c_str(), "12345", 5, WRITE_FLAG_NEWLINE, 0), 6);
  EXPECT_EQ(slurp(f), "12345\n");
  EXPECT_EQ(f_write(f.c_str(), nullptr, 0, 0, 0), -1);
  EXPECT_EQ(slurp(f), "");
  EXPECT_EQ(f_write(f.c_str(), nullptr, 0, WRITE_FLAG_NEWLINE, 0), 0);
  EXPECT_EQ(slurp(f), "\n");
  EXPECT_EQ(f_write(f.c_str(), nullptr, 0, WRITE_FLAG_NEWLINE | WRITE_FLAG_APPEND, 0), 0);
  EXPECT_EQ(slurp(f), "\n\n");
  EXPECT_EQ(f_write(f.c_str(), "", 0, WRITE_FLAG_NEWLINE, 0), 1);  // empty data is data
  EXPECT_EQ(slurp(f), "\n");
}

TEST_F(FileIo, FailedDataWriteWritesNoNewline) {
  // /dev/full takes the open but refuses every write.
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(f_write("/dev/full", "abc", 3, WRITE_FLAG_NEWLINE | WRITE_FLAG_APPEND, 0), -1);
  EXPECT_EQ(f_write(p("neg").c_str(), "abc", -1, WRITE_FLAG_NEWLINE, 0), -1);
  EXPECT_EQ(slurp(p("neg")), "");
}

TEST_F(FileIo, ReadAtOffsets) {
  std::string f = p("r");
  ASSERT_EQ(f_write(f.c_str(), "0123456789", 10, 0, 0), 10);
  char buf[16];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(f_read(f.c_str(), buf, 3, 4), 4);
  EXPECT_EQ(std::string(buf, 5), "3456#");  // no terminator added
  EXPECT_EQ(f_read(f.c_str(), buf, 8, 10), 2);
  EXPECT_EQ(std::string(buf, 2), "89");
  EXPECT_EQ(f_read(f.c_str(), buf, 10, 4), 0);
  EXPECT_EQ(f_read(f.c_str(), buf, 100, 4), 0);
  EXPECT_EQ(f_read(p("missing").c_str(), buf, 0, 4), -1);
  EXPECT_EQ(f_read(dir_.c_str(), buf, 0, 4), -1);  // a directory opens but reading fails
}

TEST_F(FileIo, WriteLineModes) {
  std::string f = p("line");
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_line_to_file(f.c_str(), 2, "x"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Create " + f + " error!\n");
  EXPECT_NE(access(f.c_str(), F_OK), 0);

  EXPECT_EQ(write_line_to_file(f.c_str(), 1, "one"), 1);
  EXPECT_EQ(write_line_to_file(f.c_str(), 2, " two\n"), 1);
  EXPECT_EQ(slurp(f), "one two\n");
  EXPECT_EQ(perms(f), 0644u);  // created under the caller's mask
  EXPECT_EQ(write_line_to_file(f.c_str(), 1, "new"), 1);
  EXPECT_EQ(slurp(f), "new");
  EXPECT_EQ(write_line_to_file(f.c_str(), 3, "other"), 0);
  EXPECT_EQ(slurp(f), "new");
}

TEST_F(FileIo, WriteLineLongerThanOldBufferIsWrittenWhole) {
  std::string f = p("long");
  std::string line(5000, 'q');
  line += "end";
  EXPECT_EQ(write_line_to_file(f.c_str(), 1, line.c_str()), 1);
  EXPECT_EQ(slurp(f), line);
  std::string exact(512, 'w');
  EXPECT_EQ(write_line_to_file(f.c_str(), 1, exact.c_str()), 1);
  EXPECT_EQ(slurp(f), exact);
}

TEST_F(FileIo, LockFileCycle) {
  std::string l = p("lock");
  EXPECT_EQ(unlock_file(l.c_str()), 1);  // nothing to remove
  EXPECT_EQ(lock_file(l.c_str()), 1);
  EXPECT_EQ(perms(l), 0400u);
  EXPECT_EQ(lock_file(l.c_str()), 0);
  EXPECT_EQ(unlock_file(l.c_str()), 1);
  EXPECT_NE(access(l.c_str(), F_OK), 0);
  EXPECT_EQ(lock_file(l.c_str()), 1);
  // A lock that cannot be created is not taken.
  EXPECT_EQ(lock_file(p("nodir/lock").c_str()), 0);
}

TEST_F(FileIo, LockRaceHasExactlyOneWinner) {
  constexpr int kRacers = 16;
  std::string l = p("race");
  for (int round = 0; round < 5; ++round) {
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    pid_t kids[kRacers];
    for (int i = 0; i < kRacers; ++i) {
      kids[i] = fork();
      ASSERT_GE(kids[i], 0);
      if (kids[i] == 0) {
        close(gate[1]);
        char c;
        (void)!read(gate[0], &c, 1);  // all start together when the gate closes
        _exit(lock_file(l.c_str()));
      }
    }
    close(gate[0]);
    close(gate[1]);
    int winners = 0;
    for (pid_t k : kids) {
      int status = 0;
      ASSERT_EQ(waitpid(k, &status, 0), k);
      ASSERT_TRUE(WIFEXITED(status));
      winners += WEXITSTATUS(status);
    }
    EXPECT_EQ(winners, 1) << "round " << round;
    unlock_file(l.c_str());
  }
}

}  // namespace
