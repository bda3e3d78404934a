#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brimlib.h"

namespace {

TEST(IsHex, DigitsOfBothCasesAndOnlyTheLowByteCounts) {
  int count = 0;
  for (int c = 0; c < 256; ++c) count += _is_hex(c);
  EXPECT_EQ(count, 22);
  EXPECT_EQ(_is_hex('F') + _is_hex('f') + _is_hex('0'), 3);
  EXPECT_EQ(_is_hex('g') + _is_hex('/') + _is_hex(-1) + _is_hex(static_cast<char>(0xE1)), 0);
  EXPECT_EQ(_is_hex(0x100 | 'a'), 1);
}

// A row block followed by guard bytes, so a write outside the block shows.
struct Rows {
  Rows(int rows, int size) : rows_(rows), size_(size), buf(static_cast<size_t>(rows * size) + 16, '#') {}
  int split(const char *src, char delim = ',') {
    return splitString2Arr_v2(src, buf.data(), rows_, size_, delim);
  }
  std::string row(int i) const { return &buf[static_cast<size_t>(i * size_)]; }
  bool guard_intact() const { return std::string(buf.end() - 16, buf.end()) == std::string(16, '#'); }
  int rows_, size_;
  std::vector<char> buf;
};

TEST(SplitString, EmptyAndTrailingFieldsCount) {
  Rows r(3, 4);
  EXPECT_EQ(r.split("a,b,c"), 3);
  EXPECT_EQ(r.row(0) + r.row(1) + r.row(2), "abc");
  EXPECT_EQ(r.split("a,,b"), 3);
  EXPECT_EQ(r.row(1), "");
  EXPECT_EQ(r.split("a,b,"), 3);
  EXPECT_EQ(r.row(2), "");
  EXPECT_EQ(r.split(",a"), 2);
  EXPECT_EQ(r.row(0), "");
  EXPECT_EQ(r.split("abc;f", ';'), 2);  // a field may fill its row exactly
  EXPECT_EQ(r.row(0), "abc");
  EXPECT_TRUE(r.guard_intact());
}

TEST(SplitString, FailuresKeepTheRowsWrittenAndNeverOverrun) {
  Rows r(2, 4);
  EXPECT_EQ(r.split("a,b,c"), -1);
  EXPECT_EQ(r.row(0) + r.row(1), "ab");
  EXPECT_EQ(r.split("a,b,"), -1);  // the trailing empty field needs a third row
  EXPECT_EQ(r.split("abcd"), -1);
  EXPECT_EQ(r.row(0), "abc");
  EXPECT_EQ(r.split("a,cdefghijkl"), -1);  // the last row is cut, not overrun
  EXPECT_EQ(r.row(1), "cde");
  EXPECT_TRUE(r.guard_intact());
  Rows one(1, 1);
  EXPECT_EQ(one.split("x"), -1);
  EXPECT_EQ(one.row(0), "");
  EXPECT_TRUE(one.guard_intact());
}

TEST(SplitString, BadArgumentsWriteNothing) {
  Rows r(2, 4);
  EXPECT_EQ(r.split(""), -1);
  EXPECT_EQ(r.split(nullptr), -1);
  EXPECT_EQ(splitString2Arr_v2("a", nullptr, 2, 4, ','), -1);
  for (auto [rows, size] : {std::pair{0, 4}, {2, 0}, {-1, 4}, {2, -4}})
    EXPECT_EQ(splitString2Arr_v2("a", r.buf.data(), rows, size, ','), -1);
  EXPECT_EQ(std::string(r.buf.begin(), r.buf.end()), std::string(r.buf.size(), '#'));
}

TEST(BinToStr, LowerCasePairsAndExactlyTwicePlusOneBytes) {
  const unsigned char three[] = {0x00, 0xAB, 0x1F};
  std::vector<char> out(7 + 4, '#');
  convert_bin_to_str(three, 3, out.data());
  EXPECT_STREQ(out.data(), "00ab1f");
  EXPECT_EQ(std::string(out.begin() + 7, out.end()), "####");
  convert_bin_to_str(three, 0, out.data());
  EXPECT_STREQ(out.data(), "");
  EXPECT_EQ(out[1], '0');  // only the terminator is written
  convert_bin_to_str(three, -3, out.data());
  EXPECT_STREQ(out.data(), "");
}

std::string pick(const char *src, int n) {
  char out[128];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(checkVar(src, n, out), 0);
  return std::string(out, strnlen(out, sizeof out));
}

TEST(CheckVar, TokensOneToFourWithStrtokSeparators) {
  EXPECT_EQ(pick("a;b;c;d;e", 1), "a");
  EXPECT_EQ(pick("a;b;c;d;e", 4), "d");
  EXPECT_EQ(pick("a;b;c;d;e", 5), "");
  EXPECT_EQ(pick("a;b;c;d;e", 0), "");
  EXPECT_EQ(pick("a;b", 3), "");
  EXPECT_EQ(pick(";a;;b", 1), "a");
  EXPECT_EQ(pick(";a;;b", 2), "b");
  EXPECT_EQ(pick("a;;;b;;", 3), "");
  EXPECT_EQ(pick(";;;", 1), "");
}

TEST(CheckVar, SourceLengthLimit) {
  std::string s127(127, 'q'), s128(128, 'q');
  EXPECT_EQ(pick(s127.c_str(), 1), s127);
  EXPECT_EQ(pick(s128.c_str(), 1), "");
  EXPECT_EQ(pick("", 1), "");
  EXPECT_EQ(pick(nullptr, 1), "");
}

TEST(CheckVar, LeavesAnotherStrtokWalkAlone) {
  char list[] = "x y z";
  ASSERT_STREQ(strtok(list, " "), "x");
  EXPECT_EQ(pick("a;b;c", 2), "b");
  EXPECT_STREQ(strtok(nullptr, " "), "y");
  EXPECT_STREQ(strtok(nullptr, " "), "z");
}

TEST(StringToHex, PairsBecomeBytesAndPartialOutputStays) {
  unsigned char out[3] = {0x55, 0x55, 0x55};
  EXPECT_EQ(string_to_hex("0aFf", out, 4), 1);
  EXPECT_EQ(out[0] * 256 + out[1], 0x0AFF);
  EXPECT_EQ(string_to_hex("0g", out, 2), 0);
  EXPECT_EQ(string_to_hex("zz", out, 0), 1);
  out[1] = 0x55;
  EXPECT_EQ(string_to_hex("12x456", out, 6), 0);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0x55);
}

TEST(StringToHex, OddOrOverlongLengthNeverGoesPastIt) {
  unsigned char out[2] = {0x55, 0x55};
  EXPECT_EQ(string_to_hex("0aF", out, 3), 0);  // the lone "F" pairs with the terminator
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0x55);
  EXPECT_EQ(string_to_hex("0aFf", out, 3), 1);  // an odd length takes in the next character
  EXPECT_EQ(out[1], 0xFF);
  out[1] = 0x55;
  // Exactly sized heap texts: a read past the terminator trips the address sanitizer.
  std::unique_ptr<char[]> text(new char[3]{'0', 'a', '\0'});
  EXPECT_EQ(string_to_hex(text.get(), out, 4), 0);
  std::unique_ptr<char[]> one(new char[2]{'7', '\0'});
  EXPECT_EQ(string_to_hex(one.get(), out, 9), 0);
  EXPECT_EQ(out[1], 0x55);
}

TEST(IsMacValid, OnlyColonSeparatedSixPairs) {
  EXPECT_EQ(isMacValid("00:1a:2B:3c:4D:5e"), 1);
  for (const char *bad : {"00-1a-2B-3c-4D-5e", "00:1a:2B:3c:4D:5", "00:1a:2B:3c:4D:5e ",
                          "00:1a:2B:3c:4D:5g", "001:a:2B:3c:4D:5e", "", static_cast<const char *>(nullptr)})
    EXPECT_EQ(isMacValid(bad), 0) << (bad ? bad : "(null)");
}

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
  EXPECT_EQ(nth(-1, "a,b", 64, -1), "untouched");
  EXPECT_EQ(nth(0, "", 64), "");
}

TEST(GetNthValue, ResultIsCutToItsCapacity) {
  EXPECT_EQ(nth(0, "abc", 2), "a");
  EXPECT_EQ(nth(1, "x,abcd,y", 4), "abc");
  EXPECT_EQ(nth(0, "abc", 1), "");
  char out[4];
  EXPECT_EQ(getNthValueSafe(0, nullptr, ',', out, 4), -1);
  EXPECT_EQ(getNthValueSafe(0, "a", ',', nullptr, 4), -1);
  EXPECT_EQ(getNthValueSafe(0, "a", ',', out, 0), -1);
  EXPECT_EQ(getNthValueSafe(1, "a", '\0', out, 4), -1);  // the terminator is no delimiter
}

}  // namespace
