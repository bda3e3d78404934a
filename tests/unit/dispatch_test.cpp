// Request dispatch in the subscriber: the topic rule, the checks on a message, module loading,
// and the failure reply through a real broker.
#include "platform/vzmqtt/dispatch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/mqtt_broker.h"

namespace {

using brim::Verdict;

void noop_handler(struct mosquitto *, const char *, cJSON *) {}
void other_handler(struct mosquitto *, const char *, cJSON *) {}

TEST(HookName, IsTheLastLevelOfTheTopic) {
  EXPECT_EQ(brim::hook_name("home/dev1/status"), "status");
  EXPECT_EQ(brim::hook_name("status"), "status");
  EXPECT_EQ(brim::hook_name("a/"), "");
  EXPECT_EQ(brim::hook_name(""), "");
}

TEST(ReplyTopic, OnlyALastLevelOfRIsAReply) {
  EXPECT_TRUE(brim::is_reply_topic("home/status/R"));
  EXPECT_TRUE(brim::is_reply_topic("/R"));
  EXPECT_FALSE(brim::is_reply_topic("R"));  // a request for hook "R", not an answer
  EXPECT_FALSE(brim::is_reply_topic("home/RR"));
  EXPECT_FALSE(brim::is_reply_topic("home/status/r"));
  EXPECT_FALSE(brim::is_reply_topic("home/R/status"));
}

TEST(ParseRequest, TakesOneObjectAndReadsNoFurtherThanTheLength) {
  // The bytes after the length must not be read: "garbage" would be a parse error if they were.
  const char buf[] = "{\"a\":1}garbage";
  cJSON *r = brim::parse_request(buf, 7);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(cJSON_GetObjectItem(r, "a")->valueint, 1);
  cJSON_Delete(r);

  const char spaced[] = " \n{\"a\":1}\r\n\t ";
  r = brim::parse_request(spaced, sizeof spaced - 1);
  EXPECT_NE(r, nullptr);
  cJSON_Delete(r);

  // A body cut short of its object is no request, whatever follows in memory.
  const char cut[] = "{\"a\":1}";
  EXPECT_EQ(brim::parse_request(cut, 6), nullptr);
}

TEST(ParseRequest, RefusesEverythingButOneObject) {
  for (const char *body : {"[1,2]", "\"text\"", "42", "null", "true", "nonsense", "{\"a\":1} {\"b\":2}",
                           "{\"a\":1} x", "{", "{\"a\":}"})
    EXPECT_EQ(brim::parse_request(body, std::strlen(body)), nullptr) << body;
  const char nul_inside[] = "{\"a\":1}\0{}";
  EXPECT_EQ(brim::parse_request(nul_inside, sizeof nul_inside - 1), nullptr);
  EXPECT_EQ(brim::parse_request(nullptr, 0), nullptr);
}

class Examine : public ::testing::Test {
 protected:
  void SetUp() override {
    hook_list_init();
    brim_hook_register("ping", noop_handler);
    brim_hook_register("ping", other_handler);  // a second record of a name is never reached
  }
  // The list never frees its records; the test does, so leak checks stay meaningful.
  void TearDown() override {
    for (brim_hook *h = first_brim_hook; h != nullptr;) {
      brim_hook *next = h->next;
      std::free(h->name);
      std::free(h);
      h = next;
    }
    hook_list_init();
  }

  Verdict examine(const std::string &topic, const std::string &body) {
    const struct brim_hook *hook = nullptr;
    cJSON *request = nullptr;
    Verdict v = brim::examine(topic.c_str(), body.data(), body.size(), &hook, &request);
    if (v == Verdict::Dispatch) {
      EXPECT_NE(request, nullptr);
      hook_ = hook;
    } else {
      EXPECT_EQ(request, nullptr);
      EXPECT_EQ(hook, nullptr);
    }
    cJSON_Delete(request);
    return v;
  }
  const struct brim_hook *hook_ = nullptr;
};

TEST_F(Examine, DispatchesToTheFirstHookOfTheName) {
  EXPECT_EQ(examine("dev/ping", "{}"), Verdict::Dispatch);
  ASSERT_NE(hook_, nullptr);
  EXPECT_EQ(hook_->handler, &noop_handler);
  EXPECT_EQ(brim::find_hook("pin"), nullptr);
  EXPECT_EQ(brim::find_hook("pingx"), nullptr);
}

TEST_F(Examine, SortsOutEveryBadMessage) {
  EXPECT_EQ(examine("dev/ping/R", "{}"), Verdict::Ignore);
  EXPECT_EQ(examine("dev/ping/R", ""), Verdict::Ignore);
  EXPECT_EQ(examine("dev/ping", ""), Verdict::EmptyBody);
  EXPECT_EQ(examine("dev/ping", std::string(brim::kMaxRequestBody + 1, ' ')), Verdict::BodyTooLarge);
  EXPECT_EQ(examine("dev/ping", "[]"), Verdict::NotAnObject);
  EXPECT_EQ(examine("dev/pong", "{}"), Verdict::UnknownHook);

  // 253 characters still have a reply topic; 254 do not.
  std::string longest = std::string(248, 'x') + "/ping";
  ASSERT_EQ(longest.size(), 253u);
  EXPECT_EQ(examine(longest, "{}"), Verdict::Dispatch);
  EXPECT_EQ(examine("x" + longest, "{}"), Verdict::TopicTooLong);
  EXPECT_EQ(examine("x" + longest + "/R", "{}"), Verdict::Ignore);

  // A body of exactly the limit is examined as a request.
  std::string big = "{\"pad\":\"" + std::string(brim::kMaxRequestBody - 10, 'p') + "\"}";
  ASSERT_EQ(big.size(), brim::kMaxRequestBody);
  EXPECT_EQ(examine("dev/ping", big), Verdict::Dispatch);
}

TEST(LoadModules, LoadsSharedObjectsAndNamesTheOnesThatFail) {
  char dir[] = "/tmp/brim_modules_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string d = dir;
  for (const char *name : {"/broken.so", "/readme.txt", "/notes.so.txt"}) {
    FILE *f = std::fopen((d + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not an ELF object\n", f);
    std::fclose(f);
  }
  EXPECT_EQ(brim::load_modules(dir), 0);
  EXPECT_STREQ(brim::module_failures(), "broken.so");  // the other files are not modules
  for (const char *name : {"/broken.so", "/readme.txt", "/notes.so.txt"}) unlink((d + name).c_str());
  rmdir(dir);

  EXPECT_EQ(brim::load_modules("/nonexistent/brim/modules"), 0);
  EXPECT_STREQ(brim::module_failures(), "broken.so");
}

TEST(ModuleDir, ComesFromTheEnvironment) {
  unsetenv("BRIM_MODULE_DIR");
  EXPECT_STREQ(brim::module_dir(), "/usr/lib/brim/modules");
  setenv("BRIM_MODULE_DIR", "/opt/handlers", 1);
  EXPECT_STREQ(brim::module_dir(), "/opt/handlers");
  unsetenv("BRIM_MODULE_DIR");
}

// Through a real broker: a failure reply on the reply topic; nothing for a reply topic.
TEST(DispatchMessage, AnswersBadRequestsOnTheReplyTopic) {
  brim_test::Broker broker;
  ASSERT_TRUE(broker.start());
  brim_test::Client listener, sender;
  ASSERT_TRUE(listener.connect(broker.port()));
  ASSERT_TRUE(listener.subscribe("#"));
  ASSERT_TRUE(sender.connect(broker.port()));
  hook_list_init();

  brim::dispatch_message(sender.handle(), "dev/ping/R", "{}", 2);  // ignored
  brim::dispatch_message(sender.handle(), "dev/ping", "{}", 2);
  ASSERT_TRUE(listener.wait_for(1));
  const brim_test::Received &r = listener.received()[0];
  EXPECT_EQ(r.topic, "dev/ping/R");
  cJSON *reply = cJSON_Parse(r.payload.c_str());
  ASSERT_NE(reply, nullptr);
  EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItem(reply, "success")));
  // Followed by the modules that failed to load, when an earlier test left one.
  EXPECT_EQ(std::string(cJSON_GetStringValue(cJSON_GetObjectItem(reply, "error"))).rfind("no handler for \"ping\"", 0), 0u);
  cJSON_Delete(reply);
}

}  // namespace
