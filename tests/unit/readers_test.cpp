#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "brimlib.h"

namespace {

// A stream over the given bytes, read through the real file system.
FILE *stream_of(const std::string &bytes) {
  FILE *f = tmpfile();
  if (f == nullptr) return nullptr;
  fwrite(bytes.data(), 1, bytes.size(), f);
  rewind(f);
  return f;
}

TEST(StreamReaders, LinesOneAtATime) {
  for (auto reader : {nsqreadline, nullReadline}) {
    FILE *f = stream_of("ab\ncd");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    reader(buf, f);
    EXPECT_STREQ(buf, "ab");
    std::memset(buf, 0, sizeof buf);
    reader(buf, f);
    EXPECT_STREQ(buf, "cd");  // a last line without newline, each byte once
    std::memset(buf, 'x', 4);
    reader(buf, f);
    EXPECT_EQ(std::string(buf, 4), "xxxx");  // at end of file nothing is stored
    fclose(f);
    reader(buf, nullptr);
    EXPECT_EQ(std::string(buf, 4), "xxxx");
  }
}

TEST(StreamReaders, LineReaderWritesNoTerminator) {
  FILE *f = stream_of("ab\n");
  char buf[8];
  std::memset(buf, 'Z', sizeof buf);
  nsqreadline(buf, f);
  EXPECT_EQ(std::string(buf, 3), "abZ");
  fclose(f);
}

TEST(StreamReaders, ReadAllKeepsNewlinesFromThePosition) {
  FILE *f = stream_of("skip\nab\n\ncd\n");
  char buf[32] = {};
  nsqreadline(buf, f);
  std::memset(buf, 0, sizeof buf);
  ReadAllFile(buf, f);
  EXPECT_STREQ(buf, "ab\n\ncd\n");
  fclose(f);
}

class FileReaders : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brim_rd_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    name_ = dir_.substr(5) + "/v";  // a name under /tmp, unique to this run
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  void put(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string text_of(const std::string &bytes) {
    put(dir_ + "/f", bytes);
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    int n = getStrFromFile((dir_ + "/f").c_str(), buf);
    EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
    return buf;
  }
  std::string dir_, name_;
};

TEST_F(FileReaders, StrFromFileEndsInPlaceOfLastByte) {
  EXPECT_EQ(text_of("abc\n"), "abc");
  EXPECT_EQ(text_of("abc"), "ab");
  EXPECT_EQ(text_of(""), "");
  EXPECT_EQ(text_of("a\nb\n"), "a\nb");
  char buf[8] = "keep";
  EXPECT_EQ(getStrFromFile((dir_ + "/missing").c_str(), buf), -1);
  EXPECT_STREQ(buf, "keep");
}

TEST_F(FileReaders, StrFromTmpNamesAFileUnderTmp) {
  put("/tmp/" + name_, "0123456789abcdef0123456789abcdef\n");
  char buf[40];
  getStrFromTmp(name_.c_str(), buf);
  EXPECT_STREQ(buf, "0123456789abcdef0123456789abcdef");
}

TEST_F(FileReaders, ValFromTmpReadsLikeAtoi) {
  auto val = [&](const std::string &bytes) {
    put("/tmp/" + name_, bytes);
    return getValFromTmp(name_.c_str());
  };
  EXPECT_EQ(val("42\n"), 42);
  EXPECT_EQ(val(" -7\n"), -7);
  EXPECT_EQ(val("abc\n"), 0);
  EXPECT_EQ(val(""), 0);
  EXPECT_EQ(val("12abc\n"), 12);
  EXPECT_EQ(val("\n5\n"), 0);  // only the first line counts
  EXPECT_EQ(val("99999999999\n"), INT32_MAX);
  EXPECT_EQ(getValFromTmp((name_ + "-missing").c_str()), 0);
}

TEST_F(FileReaders, OverlongTmpNameIsNotCutToAnotherFile) {
  // "/tmp/" and 58 characters fill the 64-byte path; one more must not read the cut name.
  std::string base = dir_.substr(5) + "/";
  std::string fits = base + std::string(58 - base.size(), 'n');
  put("/tmp/" + fits, "7\n");
  EXPECT_EQ(getValFromTmp(fits.c_str()), 7);
  std::string longer = fits + "X";
  EXPECT_EQ(getValFromTmp(longer.c_str()), 0);
  char buf[8] = "keep";
  EXPECT_EQ(getStrFromTmp(longer.c_str(), buf), -1);
  EXPECT_STREQ(buf, "keep");
}

}  // namespace
