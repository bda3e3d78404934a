#include <gtest/gtest.h>

#include <string>

#include "brimlib.h"
#include "tests/support/store_file.h"

namespace {

struct Object {
  Object() : root(cJSON_CreateObject()) {}
  ~Object() { cJSON_Delete(root); }
  std::string print() const {
    char *p = cJSON_PrintUnformatted(root);
    std::string s = p ? p : "";
    cJSON_free(p);
    return s;
  }
  cJSON *root;
};

class CfgArray : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.load("IP_ADDR = 192.168.0.1\nSUBNET_MASK = 255.255.255.0\n!WAN_DEFAULT_GATEWAY = 10.0.0.1\n"
                            "HOST_NAME = \"brim \\\"router\\\"\"\nWEB_LANGUAGE = \"en\"\n!SUPER_PASSWORD = \"secret\"\n"
                            "OP_MODE = 2\nDHCP = -5\n!WISP_WAN_ID = 1\n"));
  }
  brim_test::StoreFile store_;
};

TEST_F(CfgArray, AddressesBecomeDottedQuadStrings) {
  Object o;
  const char *names[] = {"lan_ip", "gw", "mask"};
  const int32_t ids[] = {170, 103, 171};
  EXPECT_EQ(getCfgArrayIP(o.root, 3, names, ids), 0);
  // The unreadable gateway does not repeat the LAN address read before it.
  EXPECT_EQ(o.print(), R"({"lan_ip":"192.168.0.1","gw":"0.0.0.0","mask":"255.255.255.0"})");
}

TEST_F(CfgArray, TextsBecomeStrings) {
  Object o;
  const char *names[] = {"host", "pw", "lang"};
  const int32_t ids[] = {198, 18067, 6002};
  EXPECT_EQ(getCfgArrayStr(o.root, 3, names, ids), 0);
  EXPECT_EQ(o.print(), R"({"host":"brim \"router\"","pw":"","lang":"en"})");
}

TEST_F(CfgArray, IntegersBecomeNumbersAndAFailedReadRepeatsThePreviousValue) {
  Object o;
  const char *names[] = {"bad_first", "mode", "wisp", "dhcp"};
  const int32_t ids[] = {193, 192, 193, 173};
  EXPECT_EQ(getCfgArrayInt(o.root, 4, names, ids), 0);
  EXPECT_EQ(o.print(), R"({"bad_first":0,"mode":2,"wisp":2,"dhcp":-5})");
}

TEST_F(CfgArray, MembersAreAppendedNeverReplaced) {
  Object o;
  cJSON_AddStringToObject(o.root, "mode", "old");
  const char *names[] = {"mode"};
  const int32_t ids[] = {192};
  getCfgArrayInt(o.root, 1, names, ids);
  EXPECT_EQ(o.print(), R"({"mode":"old","mode":2})");
}

TEST_F(CfgArray, NoEntriesLeaveTheObjectAlone) {
  Object o;
  const char *names[] = {"mode"};
  const int32_t ids[] = {192};
  for (int32_t count : {0, -1, -2147483647 - 1}) {
    EXPECT_EQ(getCfgArrayIP(o.root, count, names, ids), 0);
    EXPECT_EQ(getCfgArrayStr(o.root, count, names, ids), 0);
    EXPECT_EQ(getCfgArrayInt(o.root, count, names, ids), 0);
  }
  EXPECT_EQ(o.print(), "{}");
  // A missing name cannot become a member; it must not leak either (checked under ASan).
  const char *no_name[] = {nullptr};
  EXPECT_EQ(getCfgArrayStr(o.root, 1, no_name, ids), 0);
  EXPECT_EQ(getCfgArrayInt(nullptr, 1, names, ids), 0);
  EXPECT_EQ(o.print(), "{}");
}

}  // namespace
