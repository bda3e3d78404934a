// mutant_sites: the places in the shipped sources where scripts/mutants.sh plants one small fault,
// a seeded sample of them, and the planting itself.
//
//   mutant_sites list    ROOT            every site: INDEX \t FILE:LINE \t KIND \t CHANGE
//   mutant_sites sample  ROOT N SEED     N sites drawn uniformly without replacement, in INDEX order
//   mutant_sites apply   ROOT INDEX      plants site INDEX into its file under ROOT (in place)
//   mutant_sites summary ROOT            sites by kind, and what was passed over
//   mutant_sites file    PATH            the sites of one file (any path; for the tool's own test)
//
// Files: ROOT/brimlib and ROOT/init, *.cpp and *.h, sorted by path, so that the same tree always
// numbers its sites the same way. Within a file, sites follow the text.
//
// Passed over: comments, string and character literals, preprocessor lines, whatever lies inside
// static_assert (compile-time only), `<` and `>` without blanks on both sides (template, include
// and cast brackets; the code is formatted with blanks around binary operators), `->`, `<<`, `>>`
// (and their assignments), `<=>`, and conditions that declare a variable (`if (T *p = f())`),
// which cannot be negated as they stand.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum class Kind { Ident, Number, Literal, Punct };

struct Token {
  Kind kind;
  size_t off, len;
  int line;
};

struct Skipped {
  long comments = 0, literals = 0, directives = 0, brackets = 0, arrows = 0, shifts = 0, spaceship = 0,
       static_asserts = 0, declaring_conditions = 0;
};

struct Edit {
  size_t off, len;
  std::string text;
};

struct Site {
  std::string file;  // relative to ROOT
  int line;
  std::string kind;
  std::string change;
  std::vector<Edit> edits;
};

bool ident_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool ident_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool encoding_prefix(std::string_view w) {
  for (std::string_view p : {"u8", "u", "U", "L", "R", "u8R", "uR", "UR", "LR"})
    if (w == p) return true;
  return false;
}

// Longest first, so that `<<=` is never read as `<` `<=`.
constexpr std::string_view kPuncts[] = {"<=>", "<<=", ">>=", "...", "->*", "->", "++", "--", "<<", ">>", "<=", ">=",
                                        "==",  "!=",  "&&",  "||",  "+=",  "-=", "*=", "/=", "%=", "&=", "|=", "^=",
                                        "::",  ".*",  "##"};

std::vector<Token> lex(const std::string &s, Skipped &sk) {
  std::vector<Token> out;
  size_t i = 0, n = s.size();
  int line = 1;
  bool line_start = true;
  auto quoted = [&](char q) {  // i at the opening quote; stops at the line end if unterminated
    ++i;
    while (i < n && s[i] != q && s[i] != '\n') {
      if (s[i] == '\\' && i + 1 < n) ++i;
      ++i;
    }
    if (i < n && s[i] == q) ++i;
  };
  while (i < n) {
    char c = s[i];
    if (c == '\n') {
      ++line;
      line_start = true;
      ++i;
      continue;
    }
    if (blank(c)) {
      ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '/') {
      ++sk.comments;
      while (i < n && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < n && s[i + 1] == '*') {
      ++sk.comments;
      i += 2;
      while (i + 1 < n && !(s[i] == '*' && s[i + 1] == '/')) {
        if (s[i] == '\n') ++line;
        ++i;
      }
      i = std::min(n, i + 2);
      continue;
    }
    if (c == '#' && line_start) {  // a directive, with its continuation lines
      ++sk.directives;
      while (i < n && s[i] != '\n') {
        if (s[i] == '\\' && i + 1 < n && s[i + 1] == '\n') ++line, ++i;
        ++i;
      }
      continue;
    }
    line_start = false;
    size_t start = i;
    int start_line = line;
    if (ident_start(c)) {
      while (i < n && ident_char(s[i])) ++i;
      std::string_view word(s.data() + start, i - start);
      if (i < n && (s[i] == '"' || s[i] == '\'') && encoding_prefix(word)) {
        if (s[i] == '"' && word.back() == 'R') {  // R"delim( ... )delim"
          size_t open = s.find('(', i);
          std::string close = ")" + s.substr(i + 1, open == std::string::npos ? 0 : open - i - 1) + "\"";
          size_t end = open == std::string::npos ? std::string::npos : s.find(close, open);
          size_t stop = end == std::string::npos ? n : end + close.size();
          line += static_cast<int>(std::count(s.begin() + static_cast<long>(i), s.begin() + static_cast<long>(stop), '\n'));
          i = stop;
        } else {
          quoted(s[i]);
        }
        ++sk.literals;
        out.push_back({Kind::Literal, start, i - start, start_line});
        continue;
      }
      out.push_back({Kind::Ident, start, i - start, start_line});
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      ++i;  // a preprocessing number: digits, letters, dots, digit separators, exponent signs
      while (i < n) {
        if ((s[i] == '+' || s[i] == '-') && std::strchr("eEpP", s[i - 1]) != nullptr) {
          ++i;
        } else if (ident_char(s[i]) || s[i] == '.') {
          ++i;
        } else if (s[i] == '\'' && i + 1 < n && ident_char(s[i + 1])) {
          i += 2;
        } else {
          break;
        }
      }
      out.push_back({Kind::Number, start, i - start, start_line});
      continue;
    }
    if (c == '"' || c == '\'') {
      quoted(c);
      ++sk.literals;
      out.push_back({Kind::Literal, start, i - start, start_line});
      continue;
    }
    size_t len = 1;
    for (std::string_view p : kPuncts) {
      if (s.compare(i, p.size(), p) == 0) {
        len = p.size();
        break;
      }
    }
    i += len;
    out.push_back({Kind::Punct, start, len, start_line});
  }
  return out;
}

const std::set<std::string_view> &keywords() {  // `this` is left out: it may start a statement
  static const std::set<std::string_view> k = {
      "alignas",   "alignof",   "and",      "and_eq",   "asm",          "auto",        "bitand",
      "bitor",     "bool",      "break",    "case",     "catch",        "char",        "char8_t",
      "char16_t",  "char32_t",  "class",    "compl",    "concept",      "const",       "consteval",
      "constexpr", "constinit", "const_cast", "continue", "co_await",   "co_return",   "co_yield",
      "decltype",  "default",   "delete",   "do",       "double",       "dynamic_cast", "else",
      "enum",      "explicit",  "export",   "extern",   "false",        "float",       "for",
      "friend",    "goto",      "if",       "inline",   "int",          "long",        "mutable",
      "namespace", "new",       "noexcept", "not",      "not_eq",       "nullptr",     "operator",
      "or",        "or_eq",     "private",  "protected", "public",      "register",    "reinterpret_cast",
      "requires",  "return",    "short",    "signed",   "sizeof",       "static",      "static_assert",
      "static_cast", "struct",  "switch",   "template", "thread_local", "throw",       "true",
      "try",       "typedef",   "typeid",   "typename", "union",        "unsigned",    "using",
      "virtual",   "void",      "volatile", "wchar_t",  "while",        "xor",         "xor_eq"};
  return k;
}

// `value` in `base`, at least `width` digits.
std::string digits_of(uint64_t value, int base, size_t width, bool upper) {
  const char *set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string d;
  do {
    d.insert(d.begin(), set[value % static_cast<uint64_t>(base)]);
    value /= static_cast<uint64_t>(base);
  } while (value != 0);
  if (d.size() < width) d.insert(0, width - d.size(), '0');
  return d;
}

// The integer literal `lit` (negated when `negative`) changed by `delta`, written as it was
// written (base, prefix, suffix, digit count); nothing for floating literals.
std::optional<std::string> bumped(std::string_view lit, bool negative, int delta) {
  std::string t;
  for (char c : lit)
    if (c != '\'') t += c;
  int base = 10;
  size_t p = 0;
  if (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16, p = 2;
  } else if (t.size() > 1 && t[0] == '0' && (t[1] == 'b' || t[1] == 'B')) {
    base = 2, p = 2;
  } else if (t.size() > 1 && t[0] == '0' && std::isdigit(static_cast<unsigned char>(t[1]))) {
    base = 8, p = 1;
  }
  auto digit = [&](char c) -> int {
    int v = std::isdigit(static_cast<unsigned char>(c))   ? c - '0'
            : std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                                                           : 99;
    return v < base ? v : -1;
  };
  size_t q = p;
  uint64_t v = 0;
  bool upper = false;
  while (q < t.size() && digit(t[q]) >= 0) {
    uint64_t d = static_cast<uint64_t>(digit(t[q]));
    if (v > (UINT64_MAX - d) / static_cast<uint64_t>(base)) return std::nullopt;
    v = v * static_cast<uint64_t>(base) + d;
    upper = upper || std::isupper(static_cast<unsigned char>(t[q]));
    ++q;
  }
  if (q == p) return std::nullopt;
  std::string suffix = t.substr(q);
  if (suffix.find('.') != std::string::npos) return std::nullopt;
  if (!suffix.empty() && (std::isdigit(static_cast<unsigned char>(suffix[0])) ||
                          (base == 10 && (suffix[0] == 'e' || suffix[0] == 'E')) ||
                          (base == 16 && suffix.find_first_of("pP") != std::string::npos)))
    return std::nullopt;
  // Signed arithmetic on sign and magnitude.
  bool neg = negative && v != 0;
  int d = neg ? -delta : delta;
  if (d > 0) {
    if (v == UINT64_MAX) return std::nullopt;
    ++v;
  } else if (v == 0) {
    v = 1, neg = true;
  } else {
    --v;
  }
  if (v == 0) neg = false;
  return std::string(neg ? "-" : "") + t.substr(0, p) + digits_of(v, base, base == 10 ? 0 : q - p, upper) + suffix;
}

std::string squeezed(std::string_view s, size_t max = 60) {
  std::string out;
  bool space = false;
  for (char c : s) {
    if (blank(c)) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  if (out.size() > max) out = out.substr(0, max - 3) + "...";
  return out;
}

class FileSites {
 public:
  FileSites(std::string rel, std::string text, Skipped &sk) : rel_(std::move(rel)), s_(std::move(text)), sk_(sk) {
    t_ = lex(s_, sk_);
    match_brackets();
    mark_static_asserts();
    mark_statements();
  }

  void collect(std::vector<Site> &out) {
    for (size_t k = 0; k < t_.size(); ++k) {
      if (in_assert_[k]) {
        if (site_like(k)) ++sk_.static_asserts;
        continue;
      }
      returned(k, out);
      condition(k, out);
      if (stmt_[k]) {
        removed_call(k, out);
        removed_assignment(k, out);
      }
      comparison(k, out);
      constant(k, out);
    }
  }

 private:
  std::string_view text(size_t k) const {
    return k < t_.size() ? std::string_view(s_.data() + t_[k].off, t_[k].len) : std::string_view();
  }
  bool is(size_t k, std::string_view w) const { return k < t_.size() && text(k) == w; }
  size_t end(size_t k) const { return t_[k].off + t_[k].len; }
  bool name(size_t k) const {
    return k < t_.size() && t_[k].kind == Kind::Ident && (text(k) == "this" || !keywords().count(text(k)));
  }
  // Whether token k can end an operand (then a - after it is binary).
  bool operand_end(size_t k) const {
    return name(k) || t_[k].kind == Kind::Number || t_[k].kind == Kind::Literal || is(k, ")") || is(k, "]") ||
           is(k, "true") || is(k, "false") || is(k, "nullptr");
  }
  bool site_like(size_t k) const {
    std::string_view w = text(k);
    return t_[k].kind == Kind::Number || w == "==" || w == "!=" || w == "<=" || w == ">=" || w == "<" || w == ">";
  }

  void add(std::vector<Site> &out, size_t k, std::string kind, std::string change, std::vector<Edit> edits) {
    out.push_back({rel_, t_[k].line, std::move(kind), std::move(change), std::move(edits)});
  }

  void match_brackets() {
    match_.assign(t_.size(), SIZE_MAX);
    std::vector<size_t> open;
    for (size_t k = 0; k < t_.size(); ++k) {
      if (t_[k].kind != Kind::Punct) continue;
      std::string_view w = text(k);
      if (w == "(" || w == "[" || w == "{") {
        open.push_back(k);
      } else if (w == ")" || w == "]" || w == "}") {
        char want = w == ")" ? '(' : w == "]" ? '[' : '{';
        if (!open.empty() && s_[t_[open.back()].off] == want) {
          match_[k] = open.back();
          match_[open.back()] = k;
          open.pop_back();
        }
      }
    }
  }

  void mark_static_asserts() {
    in_assert_.assign(t_.size(), false);
    for (size_t k = 0; k + 1 < t_.size(); ++k) {
      if (!is(k, "static_assert") || !is(k + 1, "(") || match_[k + 1] == SIZE_MAX) continue;
      for (size_t j = k; j <= match_[k + 1]; ++j) in_assert_[j] = true;
    }
  }

  // The `(` `)` of an if, while, for or switch head.
  bool control_head(size_t close) const {
    size_t o = match_[close];
    if (o == SIZE_MAX || o == 0) return false;
    std::string_view w = text(o - 1);
    return w == "if" || w == "while" || w == "for" || w == "switch" || (w == "constexpr" && o >= 2 && is(o - 2, "if"));
  }

  // Statement starts inside function bodies (and lambda bodies), never inside parentheses.
  void mark_statements() {
    stmt_.assign(t_.size(), false);
    struct Frame {
      bool block;
      int paren;
    };
    std::vector<Frame> frames{{false, 0}};
    std::vector<bool> label_colon(t_.size(), false);
    bool pending_label = false;
    for (size_t k = 0; k < t_.size(); ++k) {
      Frame &f = frames.back();
      if (f.block && f.paren == 0 && k > 0) {
        std::string_view p = text(k - 1);
        stmt_[k] = p == ";" || p == "{" || p == "}" || p == "else" || p == "do" ||
                   (p == ")" && control_head(k - 1)) || (p == ":" && label_colon[k - 1]);
      }
      std::string_view w = text(k);
      if (t_[k].kind != Kind::Punct && t_[k].kind != Kind::Ident) continue;
      if (stmt_[k] && (w == "case" || w == "default")) pending_label = true;
      if (w == ":" && pending_label && f.paren == 0) label_colon[k] = true, pending_label = false;
      if (w == "(" || w == "[") ++f.paren;
      if ((w == ")" || w == "]") && f.paren > 0) --f.paren;
      if (w == "{") {
        std::string_view p = k > 0 ? text(k - 1) : std::string_view();
        bool lambda = p == "]" && match_[k - 1] != SIZE_MAX && match_[k - 1] > 0 &&
                      t_[match_[k - 1] - 1].kind != Kind::Ident && !is(match_[k - 1] - 1, "]");
        bool block = stmt_[k] || p == ")" || lambda || p == "else" || p == "do" || p == "try" || p == "const" ||
                     p == "noexcept" || p == "override" || p == "mutable";
        frames.push_back({block, 0});
      }
      if (w == "}" && frames.size() > 1) frames.pop_back();
    }
  }

  // From statement start k over an lvalue-like chain: *p, a.b->c[i], ns::x, f(x).y; the token after it.
  size_t chain(size_t k, bool calls) const {
    size_t j = k;
    while (is(j, "*")) ++j;
    if (is(j, "::")) ++j;
    if (!name(j)) return SIZE_MAX;
    ++j;
    for (;;) {
      if ((is(j, "::") || is(j, ".") || is(j, "->")) && name(j + 1)) {
        j += 2;
      } else if (is(j, "[") && match_[j] != SIZE_MAX) {
        j = match_[j] + 1;
      } else if (calls && is(j, "(") && match_[j] != SIZE_MAX && (is(match_[j] + 1, ".") || is(match_[j] + 1, "->"))) {
        j = match_[j] + 1;  // a call whose result is used further along the chain
      } else {
        return j;
      }
    }
  }

  std::vector<Edit> removal(size_t k, size_t semi) const {
    std::string repl = ";";
    size_t from = t_[k].off, to = end(semi);
    repl.append(static_cast<size_t>(std::count(s_.begin() + static_cast<long>(from), s_.begin() + static_cast<long>(to), '\n')), '\n');
    return {{from, to - from, repl}};
  }

  void removed_call(size_t k, std::vector<Site> &out) {
    size_t j = k;
    if (is(j, "(") && is(j + 1, "void") && is(j + 2, ")")) {  // (void)f(x); and (void)!f(x);
      j += 3;
      if (is(j, "!")) ++j;
    }
    if (is(j, "*")) return;
    size_t c = chain(j, true);
    if (c == SIZE_MAX || !is(c, "(") || match_[c] == SIZE_MAX || !is(match_[c] + 1, ";")) return;
    size_t semi = match_[c] + 1;
    add(out, k, "call", "removed " + squeezed(std::string_view(s_).substr(t_[k].off, end(semi) - t_[k].off)),
        removal(k, semi));
  }

  void removed_assignment(size_t k, std::vector<Site> &out) {
    static const std::set<std::string_view> ops = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="};
    size_t semi = SIZE_MAX;
    if (is(k, "++") || is(k, "--")) {
      size_t c = chain(k + 1, false);
      if (c != SIZE_MAX && is(c, ";")) semi = c;
    } else {
      size_t c = chain(k, false);
      if (c == SIZE_MAX) return;
      if ((is(c, "++") || is(c, "--")) && is(c + 1, ";")) {
        semi = c + 1;
      } else if (c < t_.size() && ops.count(text(c))) {
        for (size_t j = c + 1; j < t_.size(); ++j) {
          std::string_view w = text(j);
          if (w == ";") {
            semi = j;
            break;
          }
          if (w == ")" || w == "]" || w == "}") return;
          if ((w == "(" || w == "[" || w == "{") && t_[j].kind == Kind::Punct) {
            if (match_[j] == SIZE_MAX) return;
            j = match_[j];
          }
        }
      }
    }
    if (semi == SIZE_MAX) return;
    add(out, k, "assign", "removed " + squeezed(std::string_view(s_).substr(t_[k].off, end(semi) - t_[k].off)),
        removal(k, semi));
  }

  void returned(size_t k, std::vector<Site> &out) {
    if (!is(k, "return")) return;
    size_t v = k + 1, after = is(v, "-") ? v + 2 : v + 1;
    if (!is(after, ";")) return;
    std::string_view val = std::string_view(s_).substr(t_[v].off, end(after - 1) - t_[v].off);
    std::vector<std::string_view> to;
    if (val == "0") to = {"-1", "1"};
    if (val == "1" || val == "-1") to = {"0"};
    if (val == "true") to = {"false"};
    if (val == "false") to = {"true"};
    for (std::string_view r : to)
      add(out, k, "return", "return " + std::string(val) + " -> return " + std::string(r),
          {{t_[v].off, end(after - 1) - t_[v].off, std::string(r)}});
  }

  void condition(size_t k, std::vector<Site> &out) {
    if (!is(k, "if") && !is(k, "while")) return;
    size_t o = is(k + 1, "constexpr") ? k + 2 : k + 1;
    if (!is(o, "(") || match_[o] == SIZE_MAX) return;
    size_t close = match_[o], first = o + 1;
    bool declares = false;
    for (size_t j = o + 1; j < close; ++j) {
      std::string_view w = text(j);
      if (w == ";") first = j + 1, declares = false;  // an init-statement: the condition follows it
      if (w == "=") declares = true;
      if ((w == "(" || w == "[" || w == "{") && match_[j] != SIZE_MAX) j = match_[j];
    }
    if (first >= close) return;
    if (declares) {
      ++sk_.declaring_conditions;
      return;
    }
    std::string cond = squeezed(std::string_view(s_).substr(t_[first].off, end(close - 1) - t_[first].off), 40);
    std::string head(text(k));
    add(out, k, "negate", head + " (" + cond + ") -> " + head + " (!(" + cond + "))",
        {{t_[first].off, 0, "!("}, {end(close - 1), 0, ")"}});
  }

  void comparison(size_t k, std::vector<Site> &out) {
    if (t_[k].kind != Kind::Punct) return;
    std::string_view w = text(k);
    if (w == "->" || w == "->*") ++sk_.arrows;
    if (w == "<<" || w == ">>" || w == "<<=" || w == ">>=") ++sk_.shifts;
    if (w == "<=>") ++sk_.spaceship;
    std::string_view to = w == "<" ? "<=" : w == "<=" ? "<" : w == ">" ? ">=" : w == ">=" ? ">" : w == "==" ? "!=" : w == "!=" ? "==" : "";
    if (to.empty()) return;
    bool spaced = t_[k].off > 0 && blank(s_[t_[k].off - 1]) && end(k) < s_.size() && blank(s_[end(k)]);
    if (!spaced) {
      ++sk_.brackets;
      return;
    }
    add(out, k, "compare", std::string(w) + " -> " + std::string(to), {{t_[k].off, t_[k].len, std::string(to)}});
  }

  void constant(size_t k, std::vector<Site> &out) {
    if (t_[k].kind != Kind::Number) return;
    // A unary minus belongs to the value: -1 + 1 is 0, written 0.
    bool negative = k > 0 && is(k - 1, "-") && end(k - 1) == t_[k].off && (k < 2 || !operand_end(k - 2));
    size_t from = negative ? t_[k - 1].off : t_[k].off;
    std::string was = s_.substr(from, end(k) - from);
    for (int delta : {+1, -1}) {
      auto now = bumped(text(k), negative, delta);
      if (!now) return;
      std::string repl = *now;
      // A new minus sign right after a + or - would make ++ or --.
      if (repl[0] == '-' && from > 0 && (s_[from - 1] == '-' || s_[from - 1] == '+')) repl = "(" + repl + ")";
      add(out, k, "constant", was + " -> " + repl, {{from, end(k) - from, repl}});
    }
  }

  std::string rel_;
  std::string s_;
  Skipped &sk_;
  std::vector<Token> t_;
  std::vector<size_t> match_;
  std::vector<bool> in_assert_, stmt_;
};

std::string slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Sites of the given files, duplicates (the same edits twice, e.g. `return 0` -> `return 1` as a
// returned value and as a constant) kept once.
std::vector<Site> sites_of(const std::vector<std::pair<std::string, fs::path>> &files, Skipped &sk) {
  std::vector<Site> all;
  std::set<std::string> seen;
  for (const auto &[rel, path] : files) {
    std::vector<Site> mine;
    FileSites(rel, slurp(path), sk).collect(mine);
    for (auto &site : mine) {
      std::string key = site.file;
      for (const Edit &e : site.edits) {
        key += '\n';
        key += std::to_string(e.off);
        key += ':';
        key += std::to_string(e.len);
        key += ':';
        key += e.text;
      }
      if (seen.insert(key).second) all.push_back(std::move(site));
    }
  }
  return all;
}

std::vector<std::pair<std::string, fs::path>> tree_files(const fs::path &root) {
  std::vector<std::pair<std::string, fs::path>> files;
  for (const char *top : {"brimlib", "init"}) {
    if (!fs::is_directory(root / top)) continue;
    for (const auto &e : fs::recursive_directory_iterator(root / top)) {
      if (!e.is_regular_file()) continue;
      std::string ext = e.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      files.emplace_back(fs::relative(e.path(), root).generic_string(), e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

void print(size_t index, const Site &s) {
  std::string change = s.change;
  std::replace(change.begin(), change.end(), '\t', ' ');
  std::printf("%zu\t%s:%d\t%s\t%s\n", index, s.file.c_str(), s.line, s.kind.c_str(), change.c_str());
}

// splitmix64: the same sequence on every machine and compiler, unlike <random>'s distributions.
struct Rng {
  uint64_t x;
  uint64_t next() {
    uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t m) {  // uniform in [0, m), by rejection
    uint64_t limit = UINT64_MAX - UINT64_MAX % m;
    for (;;) {
      uint64_t r = next();
      if (r < limit) return r % m;
    }
  }
};

bool number(const char *s, uint64_t &v) {
  char *e = nullptr;
  errno = 0;
  v = std::strtoull(s, &e, 10);
  return *s != '\0' && *s != '-' && *e == '\0' && errno == 0;
}

int usage() {
  std::fputs("usage: mutant_sites list|summary ROOT | sample ROOT N SEED | apply ROOT INDEX | file PATH\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) return usage();
  std::string cmd = argv[1];
  Skipped sk;
  if (cmd == "file") {
    auto sites = sites_of({{argv[2], argv[2]}}, sk);
    for (size_t i = 0; i < sites.size(); ++i) print(i, sites[i]);
    return 0;
  }
  fs::path root = argv[2];
  auto sites = sites_of(tree_files(root), sk);
  if (cmd == "list" && argc == 3) {
    for (size_t i = 0; i < sites.size(); ++i) print(i, sites[i]);
  } else if (cmd == "summary" && argc == 3) {
    std::vector<std::string> kinds = {"compare", "constant", "negate", "return", "call", "assign"};
    std::printf("sites: %zu (", sites.size());
    for (size_t i = 0; i < kinds.size(); ++i)
      std::printf("%s%s %ld", i ? ", " : "", kinds[i].c_str(),
                  static_cast<long>(std::count_if(sites.begin(), sites.end(), [&](const Site &s) { return s.kind == kinds[i]; })));
    std::printf(")\npassed over: %ld comments, %ld string/char literals, %ld preprocessor lines, %ld unspaced < > "
                "(template/include/cast brackets), %ld ->, %ld << >>, %ld <=>, %ld sites inside static_assert, "
                "%ld conditions declaring a variable\n",
                sk.comments, sk.literals, sk.directives, sk.brackets, sk.arrows, sk.shifts, sk.spaceship,
                sk.static_asserts, sk.declaring_conditions);
  } else if (cmd == "sample" && argc == 5) {
    uint64_t n = 0, seed = 0;
    if (!number(argv[3], n) || !number(argv[4], seed)) return usage();
    std::vector<size_t> idx(sites.size());
    for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
    n = std::min<uint64_t>(n, idx.size());
    Rng rng{seed};
    for (size_t i = 0; i < n; ++i) std::swap(idx[i], idx[i + rng.below(idx.size() - i)]);
    idx.resize(n);
    std::sort(idx.begin(), idx.end());
    for (size_t i : idx) print(i, sites[i]);
  } else if (cmd == "apply" && argc == 4) {
    uint64_t i = 0;
    if (!number(argv[3], i) || i >= sites.size()) {
      std::fprintf(stderr, "mutant_sites: no site %s (the tree has %zu)\n", argv[3], sites.size());
      return 1;
    }
    const Site &site = sites[i];
    fs::path path = root / site.file;
    std::string text = slurp(path);
    auto edits = site.edits;
    std::sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) { return a.off > b.off; });
    for (const Edit &e : edits) text.replace(e.off, e.len, e.text);
    std::ofstream o(path, std::ios::binary | std::ios::trunc);
    o << text;
    o.close();
    if (!o) {
      std::fprintf(stderr, "mutant_sites: cannot write %s\n", path.c_str());
      return 1;
    }
    print(i, site);
  } else {
    return usage();
  }
  return 0;
}
