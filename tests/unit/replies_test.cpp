// Replies, and the subscriber's failure reply, through a real mosquitto broker on a loopback port.

#include "platform/vzmqtt/dispatch.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/store_file.h"
#include "tests/unit/unit.h"

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
  // handler published before it has then arrived too, in order. Every reply is QoS 0, not retained.
  std::vector<brim_test::Received> everything_before_marker() {
    EXPECT_EQ(websGetCfgResponse(handler_.handle(), "marker", "end"), MOSQ_ERR_SUCCESS);
    for (size_t want = listener_.received().size() + 1; listener_.wait_for(want); ++want)
      if (listener_.received().back().topic == "marker/R") break;
    auto all = listener_.received();
    EXPECT_FALSE(all.empty());
    if (!all.empty()) all.pop_back();
    for (const auto &m : all)  // no terminator
      EXPECT_TRUE(m.qos == 0 && !m.retain && m.payloadlen == static_cast<int>(m.payload.size())) << m.topic;
    return all;
  }

  brim_test::Broker broker_;
  brim_test::Client listener_;
  brim_test::Client handler_;
};

TEST_F(Replies, CfgResponsePublishesTheTextUnchangedAndRefusesTopicsWithoutAReplyTopic) {
  const char *body = "{\"not\": \"parsed\", \"x\": [1,2]}";
  const std::string longest(253, 't'), too_long(254, 't');
  for (auto [topic, text, rc] : {std::tuple{"vz/dev1/wifi/get", body, MOSQ_ERR_SUCCESS}, {"a/b", "", MOSQ_ERR_SUCCESS},
                                 {"a/c", nullptr, MOSQ_ERR_SUCCESS}, {longest.c_str(), "ok", MOSQ_ERR_SUCCESS},
                                 {too_long.c_str(), "cut", MOSQ_ERR_INVAL}, {nullptr, "none", MOSQ_ERR_INVAL}})
    EXPECT_EQ(websGetCfgResponse(handler_.handle(), topic, text), rc) << (topic ? topic : "(null)");
  websErrorResponse(handler_.handle(), too_long.c_str(), "cut");
  websSetCfgResponse(handler_.handle(), too_long.c_str(), "1", "2");
  auto got = everything_before_marker();
  ASSERT_EQ(got.size(), 4u);
  const std::pair<std::string, std::string> want[] = {
      {"vz/dev1/wifi/get/R", body}, {"a/b/R", ""}, {"a/c/R", ""}, {longest + "/R", "ok"}};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(std::pair(got[i].topic, got[i].payload), want[i]);
}

TEST_F(Replies, ErrorAndSetResponsesAreTheFormattedObjects) {
  brim_test::StoreFile store;
  ASSERT_TRUE(store.load("OP_MODE = 0\nIP_ADDR = 10.1.2.3\n"));
  websErrorResponse(handler_.handle(), "req/1", "bad \"ssid\"\n");
  // Outside bridge mode "lan_ip" is the configured LAN address.
  websSetCfgResponse(handler_.handle(), "req/set", "30", "x\"y");
  auto got = everything_before_marker();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].topic + " " + got[0].payload, "req/1/R {\n\t\"success\":\tfalse,\n\t\"error\":\t\"bad \\\"ssid\\\"\\n\"\n}");
  EXPECT_EQ(got[1].topic + " " + got[1].payload, "req/set/R "
            "{\n\t\"success\":\ttrue,\n\t\"error\":\tnull,\n\t\"lan_ip\":\t\"10.1.2.3\",\n"
            "\t\"wtime\":\t\"30\",\n\t\"reserv\":\t\"x\\\"y\"\n}");
}

TEST_F(Replies, SafeVzPubForwardsItsFourWordsToVzPub) {
  const char payload[] = "hello\0tail";  // the length, not the terminator, bounds the payload
  int rc = safe_vz_pub(reinterpret_cast<intptr_t>("vz/out"), reinterpret_cast<intptr_t>(payload),
                       static_cast<intptr_t>(sizeof payload - 1), 0);
  EXPECT_EQ(rc, 0);
  ASSERT_TRUE(listener_.wait_for(1));
  const auto &m = listener_.received()[0];
  EXPECT_EQ(m.topic + " " + m.payload + " " + std::to_string(m.qos), "vz/out " + std::string(payload, sizeof payload - 1) + " 0");
  // Whatever vz_pub answers (here: an invalid QoS), the result is 0.
  EXPECT_EQ(safe_vz_pub(reinterpret_cast<intptr_t>("vz/out"), 0, 0, 7), 0);
}

}  // namespace
