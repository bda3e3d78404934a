// The handler hook registry and request dispatch in the subscriber: the topic rule, the checks on
// a message and module loading. The failure reply through a broker is in replies_test.cpp.
#include "platform/vzmqtt/dispatch.h"

#include "tests/unit/unit.h"

namespace {

using brim::Verdict;

void handler_a(struct mosquitto *, const char *, cJSON *) {}
void handler_b(struct mosquitto *, const char *, cJSON *) {}

// The list never frees its records; the tests do, so leak checks stay meaningful.
class HookList : public ::testing::Test {
 protected:
  void SetUp() override { hook_list_init(); }
  void TearDown() override {
    free_all(first_brim_hook);
    for (brim_hook *h : orphans_) free_all(h);
    hook_list_init();
  }
  static void free_all(brim_hook *h) {
    for (brim_hook *next; h != nullptr; h = next) next = h->next, std::free(h->name), std::free(h);
  }
  static std::vector<std::string> names() {
    std::vector<std::string> out;
    for (brim_hook *h = first_brim_hook; h != nullptr; h = h->next) out.emplace_back(h->name);
    return out;
  }
  std::vector<brim_hook *> orphans_;
};

TEST_F(HookList, WalksInRegistrationOrderInitEmptiesItWithoutTouchingOldRecords) {
  EXPECT_EQ(first_brim_hook, nullptr);
  char name[] = "X";
  brim_hook *x = brim_hook_register(name, handler_a);
  EXPECT_EQ(first_brim_hook, x);
  name[0] = 'Q';  // the record keeps a copy of its own
  brim_hook *y = brim_hook_register("Y", handler_b);
  brim_hook *z = brim_hook_register("Z", nullptr);
  brim_hook *x2 = brim_hook_register("X", handler_b);
  EXPECT_EQ(names(), (std::vector<std::string>{"X", "Y", "Z", "X"}));
  EXPECT_NE(x->name, name);
  EXPECT_EQ((std::vector<brim_handler_fn>{x->handler, y->handler, z->handler}),
            (std::vector<brim_handler_fn>{handler_a, handler_b, nullptr}));
  hook_list_init();
  orphans_.push_back(x);
  EXPECT_EQ(first_brim_hook, nullptr);
  brim_hook *fresh = brim_hook_register("fresh", handler_b);
  EXPECT_EQ(first_brim_hook, fresh);
  EXPECT_TRUE(x->next == y && x2->next == nullptr && std::strcmp(x->name, "X") == 0);
  EXPECT_EQ(names(), (std::vector<std::string>{"fresh"}));
}

TEST(SafeStrdup, CopiesOrEndsTheProcessWithStatusOne) {
  char *copy = safe_strdup("abc");
  EXPECT_STREQ(copy, "abc");
  std::free(copy);
  EXPECT_EXIT(safe_strdup(nullptr), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(brim_hook_register(nullptr, handler_a), ::testing::ExitedWithCode(1), "");
}

TEST(Topics, HookNameIsTheLastLevelAndOnlyALastLevelOfRIsAReply) {
  for (auto [topic, hook] : {std::pair{"home/dev1/status", "status"}, {"status", "status"}, {"a/", ""}, {"", ""}})
    EXPECT_EQ(brim::hook_name(topic), hook) << topic;
  // "R" alone is a request for hook "R", not an answer.
  for (auto [topic, reply] : {std::pair{"home/status/R", true}, {"/R", true}, {"R", false}, {"home/RR", false},
                              {"home/status/r", false}, {"home/R/status", false}})
    EXPECT_EQ(brim::is_reply_topic(topic), reply) << topic;
}

TEST(ParseRequest, TakesOneObjectWithinTheLengthAndNothingElse) {
  // The bytes after the length must not be read: "garbage" would be a parse error if they were.
  const char buf[] = "{\"a\":1}garbage";
  const char spaced[] = " \n{\"a\":1}\r\n\t ";
  for (auto [text, len] : {std::pair{buf, size_t{7}}, {spaced, sizeof spaced - 1}}) {
    cJSON *r = brim::parse_request(text, len);
    ASSERT_NE(r, nullptr) << text;
    EXPECT_EQ(cJSON_GetObjectItem(r, "a")->valueint, 1);
    cJSON_Delete(r);
  }
  // A body cut short of its object is no request, whatever follows in memory.
  EXPECT_EQ(brim::parse_request(buf, 6), nullptr);
  for (const char *body : {"[1,2]", "\"text\"", "42", "null", "true", "nonsense", "{\"a\":1} {\"b\":2}",
                           "{\"a\":1} x", "{", "{\"a\":}"})
    EXPECT_EQ(brim::parse_request(body, std::strlen(body)), nullptr) << body;
  const char nul_inside[] = "{\"a\":1}\0{}";
  EXPECT_EQ(brim::parse_request(nul_inside, sizeof nul_inside - 1), nullptr);
  EXPECT_EQ(brim::parse_request(nullptr, 0), nullptr);
}

TEST(LoadModules, LoadsSharedObjectsAndNamesTheOnesThatFailFromTheDirectoryConfigured) {
  {
    unit::TempDir d;
    for (const char *name : {"broken.so", "readme.txt", "notes.so.txt"}) unit::put(d / name, "not an ELF object\n");
    EXPECT_EQ(brim::load_modules(d.dir.c_str()), 0);
    EXPECT_STREQ(brim::module_failures(), "broken.so");  // the other files are not modules
  }
  EXPECT_EQ(brim::load_modules("/nonexistent/brim/modules"), 0);
  EXPECT_STREQ(brim::module_failures(), "broken.so");

  unsetenv("BRIM_MODULE_DIR");
  EXPECT_STREQ(brim::module_dir(), BRIM_MODULE_DIR_DEFAULT);  // where the install puts modules
  setenv("BRIM_MODULE_DIR", "/opt/handlers", 1);
  EXPECT_STREQ(brim::module_dir(), "/opt/handlers");
  unsetenv("BRIM_MODULE_DIR");
}

}  // namespace
