#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brimlib.h"

namespace {

// ---- _is_hex ------------------------------------------------------------------------------

TEST(IsHex, DigitsOfBothCasesOnlyAndOnlyLowByteCounts) {
  int count = 0;
  for (int c = 0; c < 256; ++c) count += _is_hex(c);
  EXPECT_EQ(count, 22);
  EXPECT_EQ(_is_hex('0'), 1);
  EXPECT_EQ(_is_hex('f'), 1);
  EXPECT_EQ(_is_hex('F'), 1);
  EXPECT_EQ(_is_hex('g'), 0);
  EXPECT_EQ(_is_hex('/'), 0);
  EXPECT_EQ(_is_hex(0x100 | 'a'), 1);  // high bits are ignored
  EXPECT_EQ(_is_hex(-1), 0);
  EXPECT_EQ(_is_hex(static_cast<char>(0xE1)), 0);  // a negative char is not 'a' after masking
}

// ---- splitString2Arr_v2 --------------------------------------------------------------------

// A row block with guard bytes after it, so any write outside the block shows.
struct Rows {
  Rows(int rows, int size) : rows_(rows), size_(size), buf(static_cast<size_t>(rows * size) + 16, '#') {}
  std::string row(int i) const { return std::string(&buf[static_cast<size_t>(i * size_)]); }
  bool guard_intact() const {
    for (size_t i = static_cast<size_t>(rows_ * size_); i < buf.size(); ++i)
      if (buf[i] != '#') return false;
    return true;
  }
  int split(const char *src, char delim = ',') { return splitString2Arr_v2(src, buf.data(), rows_, size_, delim); }
  int rows_, size_;
  std::vector<char> buf;
};

TEST(SplitString, PlainEmptyAndTrailingFields) {
  Rows r(3, 4);
  EXPECT_EQ(r.split("a,b,c"), 3);
  EXPECT_EQ(r.row(0), "a");
  EXPECT_EQ(r.row(1), "b");
  EXPECT_EQ(r.row(2), "c");
  EXPECT_EQ(r.split("a,,b"), 3);
  EXPECT_EQ(r.row(1), "");
  EXPECT_EQ(r.row(2), "b");
  EXPECT_EQ(r.split("a,b,"), 3);
  EXPECT_EQ(r.row(2), "");
  EXPECT_EQ(r.split(",a"), 2);
  EXPECT_EQ(r.row(0), "");
  EXPECT_EQ(r.row(1), "a");
  EXPECT_EQ(r.split("abc;f", ';'), 2);  // a field may fill its row exactly
  EXPECT_EQ(r.row(0), "abc");
  EXPECT_EQ(r.row(1), "f");
  EXPECT_EQ(r.split("abc"), 1);
  EXPECT_TRUE(r.guard_intact());
}

TEST(SplitString, TooManyFieldsFailsAfterFillingTheRows) {
  Rows r(2, 4);
  EXPECT_EQ(r.split("a,b,c"), -1);
  EXPECT_EQ(r.row(0), "a");
  EXPECT_EQ(r.row(1), "b");
  EXPECT_EQ(r.split("a,b,"), -1);  // the trailing empty field needs a third row
  EXPECT_EQ(r.split("abc,abc,abc,abc"), -1);
  EXPECT_TRUE(r.guard_intact());
}

TEST(SplitString, LongFieldIsCutAndFails) {
  Rows r(3, 4);
  EXPECT_EQ(r.split("abcd"), -1);
  EXPECT_EQ(r.row(0), "abc");
  EXPECT_EQ(r.split("a,bcdefgh,c"), -1);
  EXPECT_EQ(r.row(0), "a");
  EXPECT_EQ(r.row(1), "bcd");
  Rows last(2, 3);
  EXPECT_EQ(last.split("ab,cdefghijkl"), -1);  // the last row is never overrun
  EXPECT_EQ(last.row(1), "cd");
  EXPECT_TRUE(r.guard_intact());
  EXPECT_TRUE(last.guard_intact());
}

TEST(SplitString, BadArgumentsFailWithoutWriting) {
  Rows r(2, 4);
  EXPECT_EQ(r.split(""), -1);
  EXPECT_EQ(r.split(nullptr), -1);
  EXPECT_EQ(splitString2Arr_v2("a", nullptr, 2, 4, ','), -1);
  EXPECT_EQ(splitString2Arr_v2("a", r.buf.data(), 0, 4, ','), -1);
  EXPECT_EQ(splitString2Arr_v2("a", r.buf.data(), 2, 0, ','), -1);
  EXPECT_EQ(splitString2Arr_v2("a", r.buf.data(), -1, 4, ','), -1);
  EXPECT_EQ(splitString2Arr_v2("a", r.buf.data(), 2, -4, ','), -1);
  for (char c : r.buf) EXPECT_EQ(c, '#');
  Rows one(1, 1);  // rows of one byte hold only empty fields
  EXPECT_EQ(one.split(","), -1);
  EXPECT_EQ(one.split("x"), -1);
  EXPECT_EQ(one.row(0), "");
  EXPECT_TRUE(one.guard_intact());
}

// ---- convert_bin_to_str --------------------------------------------------------------------

TEST(BinToStr, LowerCasePairsInOrder) {
  const unsigned char bytes[] = {0x00, 0xAB, 0x1F};
  char out[7];
  convert_bin_to_str(bytes, 3, out);
  EXPECT_STREQ(out, "00ab1f");
}

TEST(BinToStr, WritesExactlyTwicePlusOne) {
  const unsigned char bytes[13] = {0xff, 0x80, 0x7f, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xde};
  std::vector<char> out(27 + 8, '#');
  convert_bin_to_str(bytes, 13, out.data());
  EXPECT_STREQ(out.data(), "ff807f010203040506070809de");
  for (size_t i = 27; i < out.size(); ++i) EXPECT_EQ(out[i], '#');
}

TEST(BinToStr, NothingToConvertGivesEmptyText) {
  const unsigned char b = 0x12;
  char out[4] = "xyz";
  convert_bin_to_str(&b, 0, out);
  EXPECT_STREQ(out, "");
  strcpy(out, "xyz");
  convert_bin_to_str(&b, -3, out);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(out[1], 'y');  // only the terminator is written
  convert_bin_to_str(&b, 1, nullptr);  // no output buffer: nothing happens
}

// ---- checkVar ------------------------------------------------------------------------------

std::string pick(const char *src, int n) {
  char out[128];
  memset(out, 'x', sizeof out);
  out[127] = '\0';
  EXPECT_EQ(checkVar(src, n, out), 0);
  return out;
}

TEST(CheckVar, PicksTokensOneToFour) {
  EXPECT_EQ(pick("a;b;c;d;e", 1), "a");
  EXPECT_EQ(pick("a;b;c;d;e", 4), "d");
  EXPECT_EQ(pick("a;b;c;d;e", 5), "");
  EXPECT_EQ(pick("a;b;c;d;e", 0), "");
  EXPECT_EQ(pick("a;b;c;d;e", -1), "");
  EXPECT_EQ(pick("a;b", 3), "");
  EXPECT_EQ(pick("one", 1), "one");
}

TEST(CheckVar, SeparatorRunsCountAsOne) {
  EXPECT_EQ(pick(";a;;b", 1), "a");
  EXPECT_EQ(pick(";a;;b", 2), "b");
  EXPECT_EQ(pick(";;;", 1), "");
  EXPECT_EQ(pick("a;;;b;;", 2), "b");
  EXPECT_EQ(pick("a;;;b;;", 3), "");
}

TEST(CheckVar, SourceLengthLimit) {
  std::string s127(127, 'q');
  EXPECT_EQ(pick(s127.c_str(), 1), s127);
  std::string s128(128, 'q');
  EXPECT_EQ(pick(s128.c_str(), 1), "");
  EXPECT_EQ(pick("", 1), "");
  EXPECT_EQ(pick(nullptr, 1), "");
}

TEST(CheckVar, LeavesAnotherStrtokWalkAlone) {
  char list[] = "x y z";
  char *t = strtok(list, " ");
  ASSERT_STREQ(t, "x");
  EXPECT_EQ(pick("a;b;c", 2), "b");
  EXPECT_STREQ(strtok(nullptr, " "), "y");
  EXPECT_STREQ(strtok(nullptr, " "), "z");
}

TEST(CheckVar, WritesOnlyTheTokenAndTerminator) {
  char out[8];
  memset(out, '#', sizeof out);
  checkVar("ab;cd", 2, out);
  EXPECT_STREQ(out, "cd");
  EXPECT_EQ(out[3], '#');
}

// ---- string_to_hex -------------------------------------------------------------------------

TEST(StringToHex, PairsBecomeBytes) {
  unsigned char out[4] = {};
  EXPECT_EQ(string_to_hex("0aFf", out, 4), 1);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(string_to_hex("0g", out, 2), 0);
  EXPECT_EQ(string_to_hex("g0", out, 2), 0);
  EXPECT_EQ(string_to_hex("zz", out, 0), 1);
  EXPECT_EQ(string_to_hex("zz", out, -2), 1);
}

TEST(StringToHex, PartialOutputStaysOnFailure) {
  unsigned char out[3] = {0x55, 0x55, 0x55};
  EXPECT_EQ(string_to_hex("12x456", out, 6), 0);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x55);
}

TEST(StringToHex, OddLengthNeverWritesOrReadsPastIt) {
  unsigned char out[2] = {0x55, 0x55};
  EXPECT_EQ(string_to_hex("0aFf", out, 3), 0);  // "F" alone makes no byte
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0x55);
  // An exactly sized heap copy: reading past the terminator would trip the address sanitizer.
  std::unique_ptr<char[]> text(new char[3]{'0', 'a', '\0'});
  out[0] = out[1] = 0x55;
  EXPECT_EQ(string_to_hex(text.get(), out, 4), 0);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0x55);
  std::unique_ptr<char[]> one(new char[2]{'7', '\0'});
  EXPECT_EQ(string_to_hex(one.get(), out, 9), 0);
}

// ---- isMacValid ----------------------------------------------------------------------------

TEST(IsMacValid, AcceptsOnlyColonSeparatedSixPairs) {
  EXPECT_EQ(isMacValid("00:1a:2B:3c:4D:5e"), 1);
  EXPECT_EQ(isMacValid("FF:FF:FF:FF:FF:FF"), 1);
  EXPECT_EQ(isMacValid("00-1a-2B-3c-4D-5e"), 0);
  EXPECT_EQ(isMacValid("00:1a:2B:3c:4D:5"), 0);
  EXPECT_EQ(isMacValid("00:1a:2B:3c:4D:5e "), 0);
  EXPECT_EQ(isMacValid("00:1a:2B:3c:4D:5g"), 0);
  EXPECT_EQ(isMacValid("001:a:2B:3c:4D:5e"), 0);
  EXPECT_EQ(isMacValid(":00:1a:2B:3c:4D:5"), 0);
  EXPECT_EQ(isMacValid(""), 0);
  EXPECT_EQ(isMacValid(nullptr), 0);
}

// ---- getNthValueSafe -----------------------------------------------------------------------

std::string nth(int index, const char *src, int len, int expect_rc = 0) {
  char out[64] = "untouched";
  EXPECT_EQ(getNthValueSafe(index, src, ',', out, len), expect_rc);
  return out;
}

TEST(GetNthValue, EmptyFieldsCountAndMissingOnesFail) {
  EXPECT_EQ(nth(0, "a,,c", 64), "a");
  EXPECT_EQ(nth(1, "a,,c", 64), "");
  EXPECT_EQ(nth(2, "a,,c", 64), "c");
  EXPECT_EQ(nth(3, "a,,c", 64, -1), "untouched");
  EXPECT_EQ(nth(1, "a,", 64), "");
  EXPECT_EQ(nth(0, "", 64), "");
  EXPECT_EQ(nth(-1, "a,b", 64, -1), "untouched");
}

TEST(GetNthValue, ResultIsCutToItsCapacity) {
  EXPECT_EQ(nth(0, "abc", 2), "a");
  EXPECT_EQ(nth(1, "x,abc,y", 4), "abc");
  EXPECT_EQ(nth(1, "x,abcd,y", 4), "abc");
  EXPECT_EQ(nth(0, "abc", 1), "");
  char out[2] = {'#', '#'};
  EXPECT_EQ(getNthValueSafe(0, "abc", ',', out, 1), 0);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], '#');
}

TEST(GetNthValue, BadArgumentsFail) {
  char out[4];
  EXPECT_EQ(getNthValueSafe(0, nullptr, ',', out, 4), -1);
  EXPECT_EQ(getNthValueSafe(0, "a", ',', nullptr, 4), -1);
  EXPECT_EQ(getNthValueSafe(0, "a", ',', out, 0), -1);
  EXPECT_EQ(getNthValueSafe(0, "a", ',', out, -5), -1);
  EXPECT_EQ(getNthValueSafe(1, "a", '\0', out, 4), -1);  // the terminator is no delimiter
}

TEST(GetNthValue, SourceIsUnchanged) {
  const char src[] = "k1=v1;k2=v2";
  char out[8];
  EXPECT_EQ(getNthValueSafe(1, src, ';', out, sizeof out), 0);
  EXPECT_STREQ(out, "k2=v2");
  EXPECT_STREQ(src, "k1=v1;k2=v2");
}

}  // namespace
