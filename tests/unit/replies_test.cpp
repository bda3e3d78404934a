// Replies through a real mosquitto broker on a loopback port.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/store_file.h"

namespace {

class Replies : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(broker_.start()) << "cannot start /usr/sbin/mosquitto";
    ASSERT_TRUE(listener_.connect(broker_.port()));
    ASSERT_TRUE(listener_.subscribe("#"));
    ASSERT_TRUE(handler_.connect(broker_.port()));
  }
  void TearDown() override { broker_.stop(); }

  // Publishes a marker through the handler's own connection and waits for it: everything the
  // handler published before it has then arrived too, in order.
  std::vector<brim_test::Received> everything_before_marker() {
    EXPECT_EQ(websGetCfgResponse(handler_.handle(), "marker", "end"), MOSQ_ERR_SUCCESS);
    for (size_t want = listener_.received().size() + 1; listener_.wait_for(want); ++want)
      if (listener_.received().back().topic == "marker/R") break;
    auto all = listener_.received();
    EXPECT_FALSE(all.empty());
    if (!all.empty()) all.pop_back();
    return all;
  }

  brim_test::Broker broker_;
  brim_test::Client listener_;
  brim_test::Client handler_;
};

TEST_F(Replies, CfgResponsePublishesTheTextUnchangedOnTheReplyTopic) {
  const char *body = "{\"not\": \"parsed\", \"x\": [1,2]}";
  EXPECT_EQ(websGetCfgResponse(handler_.handle(), "vz/dev1/wifi/get", body), MOSQ_ERR_SUCCESS);
  ASSERT_TRUE(listener_.wait_for(1));
  const auto &m = listener_.received()[0];
  EXPECT_EQ(m.topic, "vz/dev1/wifi/get/R");
  EXPECT_EQ(m.payload, body);
  EXPECT_EQ(m.payloadlen, static_cast<int>(std::strlen(body)));  // no terminator
  EXPECT_EQ(m.qos, 0);
  EXPECT_FALSE(m.retain);
}

TEST_F(Replies, EmptyOrMissingTextIsAZeroLengthMessage) {
  EXPECT_EQ(websGetCfgResponse(handler_.handle(), "a/b", ""), MOSQ_ERR_SUCCESS);
  EXPECT_EQ(websGetCfgResponse(handler_.handle(), "a/c", nullptr), MOSQ_ERR_SUCCESS);
  ASSERT_TRUE(listener_.wait_for(2));
  for (const auto &m : listener_.received()) {
    EXPECT_EQ(m.payloadlen, 0);
    EXPECT_EQ(m.qos, 0);
    EXPECT_FALSE(m.retain);
  }
  EXPECT_EQ(listener_.received()[0].topic, "a/b/R");
  EXPECT_EQ(listener_.received()[1].topic, "a/c/R");
}

TEST_F(Replies, TopicsThatDoNotFitTheReplyTopicAreRefused) {
  std::string longest(253, 't');
  std::string too_long(254, 't');
  EXPECT_EQ(websGetCfgResponse(handler_.handle(), longest.c_str(), "ok"), MOSQ_ERR_SUCCESS);
  EXPECT_EQ(websGetCfgResponse(handler_.handle(), too_long.c_str(), "cut"), MOSQ_ERR_INVAL);
  EXPECT_EQ(websGetCfgResponse(handler_.handle(), nullptr, "none"), MOSQ_ERR_INVAL);
  websErrorResponse(handler_.handle(), too_long.c_str(), "cut");
  websSetCfgResponse(handler_.handle(), too_long.c_str(), "1", "2");
  auto got = everything_before_marker();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].topic, longest + "/R");
  EXPECT_EQ(got[0].payload, "ok");
}

TEST_F(Replies, ErrorResponseIsTheFormattedFailureObject) {
  websErrorResponse(handler_.handle(), "req/1", "bad \"ssid\"\n");
  ASSERT_TRUE(listener_.wait_for(1));
  const auto &m = listener_.received()[0];
  EXPECT_EQ(m.topic, "req/1/R");
  EXPECT_EQ(m.payload, "{\n\t\"success\":\tfalse,\n\t\"error\":\t\"bad \\\"ssid\\\"\\n\"\n}");
  EXPECT_EQ(m.qos, 0);
  EXPECT_FALSE(m.retain);
}

TEST_F(Replies, SetCfgResponseOutsideBridgeModeReportsTheConfiguredLanAddress) {
  brim_test::StoreFile store;
  ASSERT_TRUE(store.load("OP_MODE = 0\nIP_ADDR = 10.1.2.3\n"));
  websSetCfgResponse(handler_.handle(), "req/set", "30", "x\"y");
  ASSERT_TRUE(listener_.wait_for(1));
  const auto &m = listener_.received()[0];
  EXPECT_EQ(m.topic, "req/set/R");
  EXPECT_EQ(m.payload,
            "{\n\t\"success\":\ttrue,\n\t\"error\":\tnull,\n\t\"lan_ip\":\t\"10.1.2.3\",\n"
            "\t\"wtime\":\t\"30\",\n\t\"reserv\":\t\"x\\\"y\"\n}");
  EXPECT_EQ(m.qos, 0);
  EXPECT_FALSE(m.retain);
}

TEST_F(Replies, SafeVzPubForwardsItsFourWordsToVzPub) {
  const char payload[] = "hello\0tail";  // the length, not the terminator, bounds the payload
  int rc = safe_vz_pub(reinterpret_cast<intptr_t>("vz/out"), reinterpret_cast<intptr_t>(payload),
                       static_cast<intptr_t>(sizeof payload - 1), 0);
  EXPECT_EQ(rc, 0);
  ASSERT_TRUE(listener_.wait_for(1));
  const auto &m = listener_.received()[0];
  EXPECT_EQ(m.topic, "vz/out");
  EXPECT_EQ(m.payload, std::string(payload, sizeof payload - 1));
  EXPECT_EQ(m.qos, 0);
  // Whatever vz_pub answers (here: an invalid QoS), the result is 0.
  EXPECT_EQ(safe_vz_pub(reinterpret_cast<intptr_t>("vz/out"), 0, 0, 7), 0);
}

}  // namespace
