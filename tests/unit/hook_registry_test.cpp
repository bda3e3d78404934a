#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"

namespace {

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
    while (h != nullptr) {
      brim_hook *next = h->next;
      std::free(h->name);
      std::free(h);
      h = next;
    }
  }
  static std::vector<std::string> names() {
    std::vector<std::string> out;
    for (brim_hook *h = first_brim_hook; h != nullptr; h = h->next) out.emplace_back(h->name);
    return out;
  }
  std::vector<brim_hook *> orphans_;
};

TEST_F(HookList, WalksInRegistrationOrderWithDuplicatesKept) {
  EXPECT_EQ(first_brim_hook, nullptr);
  brim_hook *x = brim_hook_register("X", handler_a);
  EXPECT_EQ(first_brim_hook, x);
  brim_hook *y = brim_hook_register("Y", handler_b);
  brim_hook *z = brim_hook_register("Z", nullptr);
  brim_hook *x2 = brim_hook_register("X", handler_b);
  EXPECT_EQ(names(), (std::vector<std::string>{"X", "Y", "Z", "X"}));
  EXPECT_EQ(x->next, y);
  EXPECT_EQ(y->next, z);
  EXPECT_EQ(z->next, x2);
  EXPECT_EQ(x2->next, nullptr);
  EXPECT_EQ(x->handler, handler_a);
  EXPECT_EQ(y->handler, handler_b);
  EXPECT_EQ(z->handler, nullptr);
}

TEST_F(HookList, NameIsAPrivateCopy) {
  char name[] = "wifi_get";
  brim_hook *h = brim_hook_register(name, handler_a);
  std::strcpy(name, "changed!");
  EXPECT_STREQ(h->name, "wifi_get");
  EXPECT_NE(h->name, name);
}

TEST_F(HookList, InitEmptiesTheListWithoutTouchingOldRecords) {
  brim_hook *old = brim_hook_register("old", handler_a);
  hook_list_init();
  orphans_.push_back(old);
  EXPECT_EQ(first_brim_hook, nullptr);
  brim_hook *fresh = brim_hook_register("fresh", handler_b);
  EXPECT_EQ(first_brim_hook, fresh);
  EXPECT_EQ(old->next, nullptr);
  EXPECT_STREQ(old->name, "old");
  EXPECT_EQ(names(), (std::vector<std::string>{"fresh"}));
}

TEST(SafeStrdup, CopiesOrEndsTheProcessWithStatusOne) {
  char *copy = safe_strdup("abc");
  EXPECT_STREQ(copy, "abc");
  std::free(copy);
  EXPECT_EXIT(safe_strdup(nullptr), ::testing::ExitedWithCode(1), "");
  EXPECT_EXIT(brim_hook_register(nullptr, handler_a), ::testing::ExitedWithCode(1), "");
}

}  // namespace
