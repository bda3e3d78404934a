#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "brimlib.h"

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

TEST(AddInfoToroot, BuildsTheEscapedObjectOneMemberAtATime) {
  char root[256] = "";
  EXPECT_EQ(addInfoToroot(root, "ip", "1.2.3.4"), 0);
  EXPECT_STREQ(root, R"({\"ip\":\"1.2.3.4\"})");
  EXPECT_EQ(addNumInfoToroot(root, "mode", 2), 0);
  EXPECT_STREQ(root, R"({\"ip\":\"1.2.3.4\",\"mode\":\"2\"})");
  EXPECT_EQ(addNumInfoToroot(root, "neg", -2147483647 - 1), 0);
  EXPECT_EQ(addInfoToroot(root, "empty", ""), 0);
  EXPECT_STREQ(root, R"({\"ip\":\"1.2.3.4\",\"mode\":\"2\",\"neg\":\"-2147483648\",\"empty\":\"\"})");
  Members m;
  ASSERT_TRUE(decode(root, m));
  EXPECT_EQ(m, (Members{{"ip", "1.2.3.4"}, {"mode", "2"}, {"neg", "-2147483648"}, {"empty", ""}}));
}

TEST(AddInfoToroot, HostileValuesStillDecodeToTheGivenMembers) {
  const Members given = {
      {"ssid", R"(my "home" net)"},
      {"host", R"(C:\share\)"},
      {"tricky", R"(\",\"admin\":\"1)"},  // tries to smuggle in a member
      {"ctl", "line1\nline2\ttab\x01"},
      {"q\"name", "\\"},
      {"utf8", "caf\xc3\xa9"},
  };
  char root[1024] = "";
  for (const auto &[name, value] : given) ASSERT_EQ(addInfoToroot(root, name.c_str(), value.c_str()), 0) << name;
  Members decoded;
  ASSERT_TRUE(decode(root, decoded)) << root;
  EXPECT_EQ(decoded, given);
}

TEST(AddInfoToroot, RefusesAMemberThatDoesNotFitTheWorkBuffer) {
  // Plain texts: name plus value may be 116 characters, not one more.
  char root[512] = "";
  std::string fits(116 - 4, 'v');
  ASSERT_EQ(addInfoToroot(root, "name", fits.c_str()), 0);
  EXPECT_EQ(std::strlen(root), 127u);
  std::string too_long(117 - 4, 'w');
  EXPECT_EQ(addInfoToroot(root, "name", too_long.c_str()), -1);
  EXPECT_EQ(std::strlen(root), 127u);  // unchanged, closing brace kept
  EXPECT_EQ(root[126], '}');
  // Escaping counts: 40 quotes grow to 160 characters.
  EXPECT_EQ(addInfoToroot(root, "q", std::string(40, '"').c_str()), -1);
  EXPECT_EQ(std::strlen(root), 127u);
  // A long name fails the same way for numbers.
  EXPECT_EQ(addNumInfoToroot(root, std::string(120, 'n').c_str(), 1), -1);
  EXPECT_EQ(addInfoToroot(root, "x", "1"), 0);
  Members m;
  ASSERT_TRUE(decode(root, m));
  EXPECT_EQ(m, (Members{{"name", fits}, {"x", "1"}}));
}

TEST(AddInfoToroot, MissingArgumentsAreRefused) {
  char root[64] = "";
  EXPECT_EQ(addInfoToroot(root, "a", nullptr), -1);
  EXPECT_EQ(addInfoToroot(root, nullptr, "b"), -1);
  EXPECT_EQ(addInfoToroot(nullptr, "a", "b"), -1);
  EXPECT_EQ(addNumInfoToroot(root, nullptr, 1), -1);
  EXPECT_STREQ(root, "");
}

}  // namespace
