// Text utilities: hex digits and conversions, list splitting, tuple picking, MAC check.

#include "tests/unit/unit.h"

namespace {

TEST(IsHex, DigitsOfBothCasesAndOnlyTheLowByteCounts) {
  int count = 0;
  for (int c = 0; c < 256; ++c) count += _is_hex(c);
  EXPECT_EQ(count, 22);
  EXPECT_EQ(_is_hex('F') + _is_hex('f') + _is_hex('0') + _is_hex(0x100 | 'a'), 4);
  EXPECT_EQ(_is_hex('g') + _is_hex('/') + _is_hex(-1) + _is_hex(static_cast<char>(0xE1)), 0);
}

// A row block followed by guard bytes, so a write outside the block shows.
struct Rows {
  Rows(int rows, int size) : rows_(rows), size_(size), buf(static_cast<size_t>(rows * size) + 16, '#') {}
  int split(const char *src, char delim = ',') { return splitString2Arr_v2(src, buf.data(), rows_, size_, delim); }
  std::string joined(int n) const {
    std::string s;
    for (int i = 0; i < n; ++i) {
      const char *row = &buf[static_cast<size_t>(i * size_)];
      s += (i ? "|" : "") + std::string(row, strnlen(row, static_cast<size_t>(size_)));
    }
    return s;
  }
  bool guard_intact() const { return std::string(buf.end() - 16, buf.end()) == std::string(16, '#'); }
  int rows_, size_;
  std::vector<char> buf;
};

TEST(SplitString, FieldsFailuresAndBounds) {
  // Source, delimiter, rows, row size -> result, and the first rows joined with '|'.
  for (auto [src, delim, rows, size, rc, shown] : {
           std::tuple{"a,b,c", ',', 3, 4, 3, "a|b|c"}, {"a,,b", ',', 3, 4, 3, "a||b"},  // empty fields count
           {"a,b,", ',', 3, 4, 3, "a|b|"}, {",a", ',', 3, 4, 2, "|a"},
           {"abc;f", ';', 3, 4, 2, "abc|f"},  // a field may fill its row exactly
           // Failures keep the rows written and never overrun the block.
           {"a,b,c", ',', 2, 4, -1, "a|b"}, {"a,b,", ',', 2, 4, -1, "a|b"},  // the trailing field needs a row
           {"abcd", ',', 2, 4, -1, "abc"}, {"a,cdefghijkl", ',', 2, 4, -1, "a|cde"},  // the last row is cut
           {"x", ',', 1, 1, -1, ""}}) {
    Rows r(rows, size);
    EXPECT_EQ(r.split(src, delim), rc) << src;
    EXPECT_EQ(r.joined(static_cast<int>(std::count(shown, shown + std::strlen(shown), '|')) + 1), shown) << src;
    EXPECT_TRUE(r.guard_intact()) << src;
  }
}

TEST(SplitString, BadArgumentsWriteNothing) {
  Rows r(2, 4);
  EXPECT_EQ(r.split("") + r.split(nullptr) + splitString2Arr_v2("a", nullptr, 2, 4, ','), -3);
  for (auto [rows, size] : {std::pair{0, 4}, {2, 0}, {-1, 4}, {2, -4}})
    EXPECT_EQ(splitString2Arr_v2("a", r.buf.data(), rows, size, ','), -1);
  EXPECT_EQ(std::string(r.buf.begin(), r.buf.end()), std::string(r.buf.size(), '#'));
}

TEST(BinToStr, LowerCasePairsAndExactlyTwicePlusOneBytes) {
  const unsigned char three[] = {0x00, 0xAB, 0x1F};
  std::vector<char> out(7 + 4, '#');
  convert_bin_to_str(three, 3, out.data());
  EXPECT_EQ(std::string(out.begin(), out.end()), std::string("00ab1f\0####", 11));
  convert_bin_to_str(three, 0, out.data());
  EXPECT_EQ(std::string(out.data(), 2), std::string("\0" "0", 2));  // only the terminator is written
  convert_bin_to_str(three, -3, out.data());
  EXPECT_STREQ(out.data(), "");
}

// Runs inside another strtok walk: checkVar must use strtok_r and leave that walk alone.
TEST(CheckVar, TokensOneToFourAndTheSourceLimit) {
  const std::string s127(127, 'q'), s128(128, 'q');
  char list[] = "x y z";
  ASSERT_STREQ(strtok(list, " "), "x");
  for (auto [src, n, token] :
       {std::tuple{"a;b;c;d;e", 1, "a"}, {"a;b;c;d;e", 4, "d"}, {"a;b;c;d;e", 5, ""}, {"a;b;c;d;e", 0, ""},
        {"a;b", 3, ""}, {";a;;b", 1, "a"}, {";a;;b", 2, "b"}, {"a;;;b;;", 3, ""}, {";;;", 1, ""},
        {s127.c_str(), 1, s127.c_str()}, {s128.c_str(), 1, ""}, {"", 1, ""}, {nullptr, 1, ""}}) {
    char out[128];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(checkVar(src, n, out), 0);
    EXPECT_EQ(std::string(out, strnlen(out, sizeof out)), token) << (src ? src : "(null)") << " #" << n;
  }
  EXPECT_STREQ(strtok(nullptr, " "), "y");
  EXPECT_STREQ(strtok(nullptr, " "), "z");
}

TEST(StringToHex, PairsBecomeBytesAndReadsStopAtTheTerminator) {
  // Text, length -> result and the two output bytes (0x55: untouched). Bytes before a failure stay; an odd length's
  // lone last digit pairs with the character after it, and the terminator fails.
  for (auto [text, len, rc, bytes] : {std::tuple{"0aFf", 4, 1, 0x0AFF}, {"0g", 2, 0, 0x5555}, {"zz", 0, 1, 0x5555},
                                      {"12x456", 6, 0, 0x1255}, {"a0", 2, 1, 0xA055}, {"0aF", 3, 0, 0x0A55}, {"0aFf", 3, 1, 0x0AFF}}) {
    unsigned char out[3] = {0x55, 0x55, 0x55};
    EXPECT_EQ(string_to_hex(text, out, len), rc) << text << "/" << len;
    EXPECT_EQ(out[0] * 256 + out[1], bytes) << text << "/" << len;
  }
  // Exactly sized heap texts: a read past the terminator trips the address sanitizer.
  unsigned char out[3] = {0x55, 0x55, 0x55};
  std::unique_ptr<char[]> text(new char[3]{'0', 'a', '\0'}), one(new char[2]{'7', '\0'});
  EXPECT_EQ(string_to_hex(text.get(), out, 4) + string_to_hex(one.get(), out, 9) + string_to_hex(nullptr, out, 2), 0);
  EXPECT_EQ(out[1], 0x55);
}

TEST(IsMacValid, OnlyColonSeparatedSixPairs) {
  for (auto [mac, ok] : {std::pair{"00:1a:2B:3c:4D:5e", 1}, {"00-1a-2B-3c-4D-5e", 0}, {"00:1a:2B:3c:4D:5", 0}, {"00:1a:2B:3c:4D:5e ", 0},
                         {"00:1a:2B:3c:4D:5g", 0}, {"001:a:2B:3c:4D:5e", 0}, {"", 0}, {nullptr, 0}})
    EXPECT_EQ(isMacValid(mac), ok) << (mac ? mac : "(null)");
}

TEST(GetNthValue, EmptyFieldsCountMissingOnesFailResultsAreCut) {
  for (auto [index, src, len, rc, text] :
       {std::tuple{0, "a,,c", 64, 0, "a"}, {1, "a,,c", 64, 0, ""}, {2, "a,,c", 64, 0, "c"},
        {3, "a,,c", 64, -1, "untouched"}, {-1, "a,b", 64, -1, "untouched"}, {0, "", 64, 0, ""}, {0, "abc", 2, 0, "a"},
        {1, "x,abcd,y", 4, 0, "abc"}, {0, "abc", 1, 0, ""}, {0, "a", 0, -1, "untouched"}}) {
    char out[64] = "untouched";
    EXPECT_EQ(getNthValueSafe(index, src, ',', out, len), rc) << src << " #" << index << " len " << len;
    EXPECT_STREQ(out, text) << src << " #" << index << " len " << len;
  }
  char out[4];  // the terminator is no delimiter
  EXPECT_EQ(getNthValueSafe(0, nullptr, ',', out, 4) + getNthValueSafe(0, "a", ',', nullptr, 4) + getNthValueSafe(1, "a", '\0', out, 4), -3);
}

}  // namespace
