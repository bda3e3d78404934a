// Output capture against the real shell.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "brimlib.h"

namespace {

TEST(Capture, FirstLineOnly) {
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(getCmdResult("printf 'one\\ntwo\\n'", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "one");
  EXPECT_EQ(getCmdStr("printf 'alpha\\nbeta\\n'", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "alpha");
  EXPECT_EQ(getCmdVal("printf '42 apples\\n7\\n'"), 42);
  EXPECT_EQ(getCmdVal("echo x42"), 0);
  EXPECT_EQ(getCmdVal("true"), 0);
}

TEST(Capture, SilentCommands) {
  char buf[8] = "keep";
  EXPECT_EQ(getCmdResult("true", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "keep");  // untouched apart from its last byte
  EXPECT_EQ(getCmdStr("true", buf, sizeof buf), -1);
  EXPECT_STREQ(buf, "");
}

TEST(Capture, LongLinesAreCutToTheBuffer) {
  char buf[6];
  EXPECT_EQ(getCmdResult("echo abcdefghij", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "abcde");
  EXPECT_EQ(getCmdStr("echo abcdefghij", buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "abcde");
}

TEST(Capture, NoSizeNoWrite) {
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
  struct tm tm = {};
  char ampm[3] = {};
  int n = std::sscanf(buf, "%4d-%2d-%2d %2d:%2d:%2d %2s", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                      &tm.tm_min, &tm.tm_sec, ampm);
  EXPECT_EQ(n, 7) << buf;
  EXPECT_TRUE(std::string(ampm) == "AM" || std::string(ampm) == "PM") << buf;
  EXPECT_GE(tm.tm_hour, 1);
  EXPECT_LE(tm.tm_hour, 12);
}

}  // namespace
