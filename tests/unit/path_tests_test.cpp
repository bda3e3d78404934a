#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string>

#include "brimlib.h"

namespace {

class PathTests : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brim_path_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string p(const char *name) const { return dir_ + "/" + name; }
  std::string dir_;
};

struct Answers {
  int exist, exists, file, dir, link;
};

Answers ask(const std::string &path) {
  const char *c = path.c_str();
  return {isFileExist(c), f_exists(c), f_file_exist(c), d_exist(c), l_exist(c)};
}

TEST_F(PathTests, EachKindOfPathGetsItsAnswers) {
  ASSERT_EQ(mkdir(p("d").c_str(), 0755), 0);
  int fd = open(p("f").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "hello", 5), 5);
  close(fd);
  ASSERT_EQ(symlink(p("d").c_str(), p("ld").c_str()), 0);
  ASSERT_EQ(symlink(p("nowhere").c_str(), p("dangling").c_str()), 0);

  auto dir = ask(p("d"));
  EXPECT_EQ((std::array{dir.exist, dir.exists, dir.file, dir.dir, dir.link}), (std::array{1, 0, 0, 1, 0}));
  auto file = ask(p("f"));
  EXPECT_EQ((std::array{file.exist, file.exists, file.file, file.dir, file.link}), (std::array{1, 1, 1, 0, 0}));
  auto ld = ask(p("ld"));  // a link to a directory is followed by all but l_exist
  EXPECT_EQ((std::array{ld.exist, ld.exists, ld.file, ld.dir, ld.link}), (std::array{1, 0, 0, 1, 1}));
  auto dangling = ask(p("dangling"));
  EXPECT_EQ((std::array{dangling.exist, dangling.exists, dangling.file, dangling.dir, dangling.link}),
            (std::array{0, 0, 0, 0, 1}));
  auto dev = ask("/dev/null");
  EXPECT_EQ((std::array{dev.exist, dev.exists, dev.file, dev.dir, dev.link}), (std::array{1, 1, 0, 0, 0}));
  auto missing = ask(p("missing"));
  EXPECT_EQ((std::array{missing.exist, missing.exists, missing.file, missing.dir, missing.link}),
            (std::array{0, 0, 0, 0, 0}));
  auto empty = ask("");
  EXPECT_EQ((std::array{empty.exist, empty.exists, empty.file, empty.dir, empty.link}), (std::array{0, 0, 0, 0, 0}));

  EXPECT_EQ(f_size(p("f").c_str()), 5);
  EXPECT_EQ(f_size(p("missing").c_str()), -1);
  EXPECT_EQ(f_size(""), -1);
}

TEST_F(PathTests, SizeOfEmptyAndSparseFiles) {
  int fd = open(p("e").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(f_size(p("e").c_str()), 0);
  // Past 2 GiB the size is clamped rather than wrapped into the failure value.
  ASSERT_EQ(truncate(p("e").c_str(), 3LL << 30), 0);
  EXPECT_EQ(f_size(p("e").c_str()), INT32_MAX);
}

}  // namespace
