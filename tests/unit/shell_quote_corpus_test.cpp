// The quoting helper against the real /bin/sh over the fuzzer's seeds and kept inputs for it:
// the shell must read each quoted text back as exactly one word equal to the text. The fuzzer
// checks every input with a reference reader and only samples the real shell.

#include <unistd.h>

#include "fuzz/shell_quote.h"
#include "tests/unit/unit.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> corpus_texts() {
  const fs::path fuzz = fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz";
  std::vector<std::string> out;
  std::error_code ec;
  for (const char *dir : {"corpus/shell_quote", "regressions/shell_quote"})
    for (const fs::directory_entry &e : fs::directory_iterator(fuzz / dir, ec)) {
      std::string text = unit::slurp(e.path());
      out.push_back(text.substr(0, text.find('\0')));  // as the fuzz target reads it
    }
  EXPECT_GE(out.size(), 5u) << "the seed corpus is missing";
  // Hostile texts of our own, every byte value once (the shell's own parser meets each), and a long text of quotes.
  for (const char *text : {"plain", "", "it's", "'", "''", "$(touch /tmp/brim_canary)", "`id`", "a;b|c&d>e", "line\nbreak", "-n",
                           "back\\slash \"dq\" $HOME *", "tab\there"})
    out.push_back(text);
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  out.push_back(all);
  out.push_back(std::string(3000, '\''));
  return out;
}

// What `printf %s WORDS; printf '|%s' $#` prints through the real shell: the words and their count.
std::string shell_reads(const std::string &quoted) {
  std::string cmd = "set -- " + quoted + "; printf %s \"$1\"; printf '|%s' $#";
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return "<popen failed>";
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  pclose(p);
  return out;
}

TEST(ShellQuoteCorpus, RealShellReadsOneWordEqualToTheText) {
  for (const std::string &text : corpus_texts()) {
    std::vector<char> quoted(4 * text.size() + 3);
    int n = brim_shell_quote(text.c_str(), quoted.data(), static_cast<int>(quoted.size()));
    ASSERT_GT(n, 0) << text;
    std::string q(quoted.data(), static_cast<size_t>(n));
    EXPECT_EQ(brim_fuzz::read_quoted_word(q).value_or("<not one word>"), text) << q;
    EXPECT_EQ(shell_reads(q), text + "|1") << q;
  }
  EXPECT_NE(access("/tmp/brim_canary", F_OK), 0);
}

}  // namespace
