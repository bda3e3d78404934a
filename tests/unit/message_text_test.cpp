// Request fields and the escaped JSON fragments handlers build.
#include <signal.h>
#include "tests/unit/unit.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// Reads a fragment the way its consumers do: as the body of a JSON string, decoded once,
// whose text is then a JSON object. Returns false when either step fails.
bool decode(const std::string &fragment, Members &out) {
  out.clear();
  cJSON *outer = cJSON_Parse(("\"" + fragment + "\"").c_str());
  if (outer == nullptr) return false;
  bool ok = false;
  if (cJSON_IsString(outer)) {
    cJSON *obj = cJSON_Parse(outer->valuestring);
    if (cJSON_IsObject(obj)) {
      ok = true;
      for (cJSON *m = obj->child; m != nullptr; m = m->next) {
        if (!cJSON_IsString(m)) ok = false;
        else out.emplace_back(m->string, m->valuestring);
      }
    }
    cJSON_Delete(obj);
  }
  cJSON_Delete(outer);
  return ok;
}

TEST(AddInfoToroot, BuildsTheEscapedObjectOneMemberAtATimeAndHostileValuesDecodeToTheGivenMembers) {
  char root[1024] = "";
  EXPECT_EQ(addInfoToroot(root, "ip", "1.2.3.4") + addNumInfoToroot(root, "mode", 2), 0);
  EXPECT_STREQ(root, R"({\"ip\":\"1.2.3.4\",\"mode\":\"2\"})");
  const Members given = {{"ip", "1.2.3.4"}, {"mode", "2"}, {"neg", "-2147483648"}, {"empty", ""},
                         {"ssid", R"(my "home" net)"}, {"host", R"(C:\share\)"},
                         {"tricky", R"(\",\"admin\":\"1)"},  // tries to smuggle in a member
                         {"ctl", "line1\nline2\ttab\x01"}, {"q\"name", "\\"}, {"utf8", "caf\xc3\xa9"}};
  EXPECT_EQ(addNumInfoToroot(root, "neg", -2147483647 - 1), 0);
  for (size_t i = 3; i < given.size(); ++i) ASSERT_EQ(addInfoToroot(root, given[i].first.c_str(), given[i].second.c_str()), 0) << i;
  Members decoded;
  ASSERT_TRUE(decode(root, decoded)) << root;
  EXPECT_EQ(decoded, given);
}

TEST(AddInfoToroot, RefusesMissingArgumentsAndAMemberThatDoesNotFit) {
  // Plain texts: name plus value may be 116 characters, not one more.
  char root[512] = "";
  std::string fits(116 - 4, 'v');
  ASSERT_EQ(addInfoToroot(root, "name", fits.c_str()), 0);
  EXPECT_EQ(std::strlen(root), 127u);
  EXPECT_EQ(addInfoToroot(root, "name", std::string(117 - 4, 'w').c_str()), -1);
  EXPECT_EQ(std::string(root).substr(125), "\"}");  // unchanged, closing brace kept
  // Escaping counts: 40 quotes grow to 160 characters.
  EXPECT_EQ(addInfoToroot(root, "q", std::string(40, '"').c_str()), -1);
  EXPECT_EQ(std::strlen(root), 127u);
  // A long name fails the same way for numbers; missing arguments are refused too.
  EXPECT_EQ(addNumInfoToroot(root, std::string(120, 'n').c_str(), 1) + addInfoToroot(root, "a", nullptr) +
            addInfoToroot(root, nullptr, "b") + addInfoToroot(nullptr, "a", "b") + addNumInfoToroot(root, nullptr, 1), -5);
  EXPECT_EQ(std::strlen(root), 127u);
  EXPECT_EQ(addInfoToroot(root, "x", "1"), 0);
  Members m;
  ASSERT_TRUE(decode(root, m));
  EXPECT_EQ(m, (Members{{"name", fits}, {"x", "1"}}));
}

struct Request {
  explicit Request(const char *json) : root(cJSON_Parse(json)) {}
  ~Request() { cJSON_Delete(root); }
  cJSON *root;
};

TEST(WebsGetVar, ConvertsEachKindOfField) {
  Request req(R"({"on":true,"off":false,"port":80,"ratio":2.9,"neg":-7,"name":"","b":-2147483648,)"
              R"("c":2147483647,"huge":1e20,"nothing":null,"list":[1],"obj":{"a":1},"ssid":"home net"})");
  ASSERT_NE(req.root, nullptr);
  const char *dflt = "DEFAULT";
  // Numbers as their integer value (cJSON's view: cut, saturated).
  for (auto [name, text] : {std::pair{"on", "1"}, {"off", "0"}, {"port", "80"}, {"ratio", "2"}, {"neg", "-7"},
                            {"b", "-2147483648"}, {"c", "2147483647"}, {"huge", "2147483647"}})
    EXPECT_STREQ(websGetVar(req.root, name, dflt), text) << name;
  // Numbers share one buffer: the first result now shows the second number.
  const char *first = websGetVar(req.root, "port", "");
  EXPECT_EQ(websGetVar(req.root, "neg", ""), first);
  EXPECT_STREQ(first, "-7");
  // An empty string is a value, not a missing field; strings come straight from the request.
  const char *name = websGetVar(req.root, "name", dflt);
  EXPECT_STREQ(name, "");
  EXPECT_NE(name, dflt);
  EXPECT_EQ(websGetVar(req.root, "ssid", dflt), cJSON_GetObjectItem(req.root, "ssid")->valuestring);
  // Kinds without a text form, absent fields and a missing request give the caller's own default.
  for (const char *other : {"nothing", "list", "obj", "absent"}) EXPECT_EQ(websGetVar(req.root, other, dflt), dflt);
  EXPECT_EQ(websGetVar(req.root, "absent", nullptr), nullptr);
  EXPECT_EQ(websGetVar(nullptr, "x", dflt), dflt);
}

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
