// Each line below exercises one rule of scripts/mutants/mutant_sites.cpp; a comment may say a < b == c.
#include <array>
#define LIMIT(a, b) ((a) < (b) ? \
  (a) : 1)
#if 2 > 1
#endif

static_assert(sizeof(int) == 4, "a < b");

namespace {
std::array<int, 3> table = {1, 2};
FOO(x);
struct S {
  int x = 5;
  int get() const { return x; }
};
}

int f(int *p, S *s, int n) {
  const char *t = "if (a < b) return 0;";
  char c = '<';
  const char *r = R"(x == y; return 1;)";
  int a = s->get() << 2 >> 1;
  bool cmp = (a <=> n) < 0;
  if (int *q = p) *q = 0;
  if (int k = n; k > 0x0f) n = -1;
  switch (n) {
    case 4:
      g(n);
      break;
    default:
      p[0] += 1;
  }
  double d = 1.5;
  auto w = 10ms;
  for (int i = 0; i < n; ++i) ++a;
  while (n-- > 0) s->helper().run(n, [&] { a = 0; });
  Widget widget(a);
  (void)!write(1, t, 1);
  a-1;
  if (a) return -1;
  return false;
}
