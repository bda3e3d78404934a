#include <gtest/gtest.h>

#include <string>

#include "brimlib.h"

namespace {

// Owns a parsed request body.
struct Request {
  explicit Request(const char *json) : root(cJSON_Parse(json)) {}
  ~Request() { cJSON_Delete(root); }
  cJSON *root;
};

TEST(WebsGetVar, ConvertsEachKindOfField) {
  Request req(R"({"on":true,"off":false,"port":80,"ratio":2.9,"neg":-7,"name":"",)"
              R"("nothing":null,"list":[1],"obj":{"a":1},"ssid":"home net"})");
  ASSERT_NE(req.root, nullptr);
  const char *dflt = "DEFAULT";
  EXPECT_STREQ(websGetVar(req.root, "on", dflt), "1");
  EXPECT_STREQ(websGetVar(req.root, "off", dflt), "0");
  EXPECT_STREQ(websGetVar(req.root, "port", dflt), "80");
  EXPECT_STREQ(websGetVar(req.root, "ratio", dflt), "2");  // cJSON's integer view
  EXPECT_STREQ(websGetVar(req.root, "neg", dflt), "-7");
  // An empty string is a value, not a missing field.
  const char *name = websGetVar(req.root, "name", dflt);
  EXPECT_STREQ(name, "");
  EXPECT_NE(name, dflt);
  // Kinds without a text form, and absent fields, give the caller's own default pointer.
  EXPECT_EQ(websGetVar(req.root, "nothing", dflt), dflt);
  EXPECT_EQ(websGetVar(req.root, "list", dflt), dflt);
  EXPECT_EQ(websGetVar(req.root, "obj", dflt), dflt);
  EXPECT_EQ(websGetVar(req.root, "absent", dflt), dflt);
  EXPECT_EQ(websGetVar(req.root, "absent", nullptr), nullptr);
  // A string comes straight from the request object.
  EXPECT_EQ(websGetVar(req.root, "ssid", dflt), cJSON_GetObjectItem(req.root, "ssid")->valuestring);
}

TEST(WebsGetVar, NumbersShareOneBuffer) {
  Request req(R"({"a":1,"b":-2147483648,"c":2147483647,"huge":1e20})");
  const char *first = websGetVar(req.root, "a", "");
  EXPECT_STREQ(first, "1");
  const char *second = websGetVar(req.root, "b", "");
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "-2147483648");  // the first result now shows the second number
  EXPECT_STREQ(websGetVar(req.root, "c", ""), "2147483647");
  EXPECT_STREQ(websGetVar(req.root, "huge", ""), "2147483647");  // cJSON saturates
}

TEST(WebsGetVar, MissingRequestGivesTheDefault) { EXPECT_STREQ(websGetVar(nullptr, "x", "d"), "d"); }

using WebsGetVarDeathTest = ::testing::Test;

// The check must survive NDEBUG: this suite is normally built with it.
TEST_F(WebsGetVarDeathTest, NullOrEmptyNameAbortsWithTheAssertionText) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Request req(R"({"":1})");
  EXPECT_DEATH(websGetVar(req.root, nullptr, "d"), "brimlib.*websGetVar.*var && \\*var");
  EXPECT_DEATH(websGetVar(req.root, "", "d"), "brimlib.*websGetVar.*var && \\*var");
  EXPECT_EXIT(websGetVar(req.root, "", "d"), ::testing::KilledBySignal(SIGABRT), "");
}

}  // namespace
