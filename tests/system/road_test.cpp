// The management road end to end, as on the router: brim_init boots, its subscriber loads the
// handler modules, and requests published on the sandbox's broker come back as replies built
// from library calls. The test is an MQTT client like any other (libmosquitto).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
#include <string>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

const char *const kModules = "/tmp/brim_road_modules";
const char *const kSubErr = "/tmp/brim_road_sub.err";
const char *const kStoreBackup = "/tmp/brim_road_store.bak";
constexpr int kBrokerPort = 1883;  // the sandbox's broker, from /etc/mosquitto.conf

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  return s;
}

std::string store_get(const std::string &key) {
  return trimmed(run_shell("APMIB_STORE=/etc/apmib.store apmib get " + key).output);
}

class Road : public SandboxTest {
 protected:
  static void SetUpTestSuite() { booted_ = false; }
  static void TearDownTestSuite() {
    if (booted_) {
      run_shell("killall brim_sub 2>/dev/null; cp -f " + std::string(kStoreBackup) + " /etc/apmib.store");
      run_shell(std::string("rm -rf ") + kModules + " " + kStoreBackup + " " + kSubErr);
    }
  }

  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    if (!booted_) boot();
    connect();
  }

  void connect() {
    client_ = std::make_unique<Client>();
    ASSERT_TRUE(client_->connect(kBrokerPort));
    ASSERT_TRUE(client_->subscribe("#"));
  }

  // One boot for the suite: the shipped module, the test's echo module and a module that cannot
  // load. The subscriber's standard error goes to kSubErr.
  static void boot() {
    const std::string build = std::getenv("BRIM_BUILD") ? std::getenv("BRIM_BUILD") : "";
    std::string m = kModules;
    // The store is backed up once, before the suite's first boot changes it.
    CmdResult r = run_shell("rm -rf " + m + " && mkdir " + m + " && ln -s " + build +
                            "/modules/device_status.so " + build + "/tests/modules/echo_module.so " + m +
                            " && echo 'not a module' > " + m + "/broken.so" +
                            (booted_ ? std::string() : std::string(" && cp /etc/apmib.store ") + kStoreBackup));
    ASSERT_EQ(r.status, 0) << r.output;
    // A broker left by earlier tests is stopped first: the boot starts its own right after
    // signalling the old one, and the new one cannot bind while the old one still holds the port.
    run_shell("killall vz_broker 2>/dev/null");
    ASSERT_TRUE(wait_for_process("vz_broker", false));
    // The router's own broker port, whatever earlier tests left in the environment.
    r = run_shell("unset BRIM_MQTT_PORT BRIM_VZ_SUB_FAIL; BRIM_MODULE_DIR=" + m + " brim_init >/dev/null 2>" + kSubErr);
    ASSERT_EQ(r.status, 0) << r.output;
    booted_ = true;
    ASSERT_TRUE(wait_for_process("brim_sub", true));
    ASSERT_TRUE(broker_accepts());
  }

  // The broker may still be starting (bounded wait).
  static bool broker_accepts() {
    for (int i = 0; i < 500; ++i) {
      if (accepts_connections(kBrokerPort)) return true;
      pause_briefly();
    }
    return false;
  }

  void publish(const std::string &topic, const std::string &body) {
    ASSERT_EQ(mosquitto_publish(client_->handle(), nullptr, topic.c_str(), static_cast<int>(body.size()),
                                body.empty() ? nullptr : body.data(), 0, false),
              MOSQ_ERR_SUCCESS);
  }

  // Index of the first message on `topic` received at or after `from`; -1 if none.
  long find(const std::string &topic, size_t from = 0) {
    const auto &got = client_->received();
    for (size_t i = from; i < got.size(); ++i)
      if (got[i].topic == topic) return static_cast<long>(i);
    return -1;
  }

  // Publishes a request and serves the connection until its reply arrives (bounded); the reply
  // text, or "<no reply>". With `retry`, publishes again now and then: right after a boot or a
  // broker restart the subscriber may not be subscribed yet.
  std::string ask(const std::string &topic, const std::string &body, bool retry = false) {
    size_t from = client_->received().size();
    publish(topic, body);
    for (int i = 1; i <= 250; ++i) {
      client_->serve_a_little();
      long at = find(topic + "/R", from);
      if (at >= 0) return client_->received()[static_cast<size_t>(at)].payload;
      if (retry && i % 5 == 0) publish(topic, body);
    }
    return "<no reply>";
  }

  // Member `name` of a JSON reply, as text ("" when missing or not a string).
  static std::string member(const std::string &reply, const char *name) {
    cJSON *o = cJSON_Parse(reply.c_str());
    const char *s = cJSON_GetStringValue(cJSON_GetObjectItem(o, name));
    std::string out = s ? s : "";
    cJSON_Delete(o);
    return out;
  }

  // A failure reply's error text; fails the test when the reply is not a failure reply.
  static std::string failure(const std::string &reply) {
    cJSON *o = cJSON_Parse(reply.c_str());
    EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItem(o, "success"))) << reply;
    cJSON_Delete(o);
    return member(reply, "error");
  }

  static bool booted_;
  std::unique_ptr<Client> client_;
};

bool Road::booted_ = false;

TEST_F(Road, StatusReplyComesFromTheStoreAndTheKernel) {
  ASSERT_TRUE(write_file("/etc/resolv.conf", "nameserver 10.9.8.7\nnameserver 2001:db8:aaaa:bbbb::53\nnameserver 10.9.8.6\n"
                                             "nameserver 10.9.8.5\n"));
  std::string reply = ask("router/status", "{}", true);
  cJSON *o = cJSON_Parse(reply.c_str());
  ASSERT_TRUE(cJSON_IsObject(o)) << reply;

  // The bridge's address as the kernel has it (the sandbox set it from the store).
  char br0[16] = {};
  ASSERT_EQ(getIfIp("br0", br0), 0);
  EXPECT_EQ(member(reply, "lan_ip"), store_get("IP_ADDR"));
  EXPECT_EQ(member(reply, "lan_ip"), br0);
  EXPECT_EQ(member(reply, "lan_netmask"), store_get("SUBNET_MASK"));
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItem(o, "op_mode")), std::stoi(store_get("OP_MODE")));
  EXPECT_EQ(member(reply, "wan_if"), "eth1");   // gateway mode, wired WAN
  // Without an ISP, eth1 has link (its peer is up) but no lease: not connected, no time yet.
  EXPECT_EQ(member(reply, "wan_ip"), "0.0.0.0");
  EXPECT_EQ(member(reply, "wan_gateway"), "0.0.0.0");
  EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItem(o, "wan_connected")));
  EXPECT_EQ(member(reply, "wan_link_time"), "0;0;0;0");
  unsigned d, h, mi, se;
  char end;
  EXPECT_EQ(std::sscanf(member(reply, "uptime").c_str(), "%u;%u;%u;%u%c", &d, &h, &mi, &se, &end), 4)
      << member(reply, "uptime");

  std::string got;
  cJSON *server = nullptr;
  cJSON_ArrayForEach(server, cJSON_GetObjectItem(o, "dns")) got += std::string(server->valuestring) + " ";
  EXPECT_EQ(got, "10.9.8.7 10.9.8.6 ");  // IPv4 servers only, two at most
  cJSON_Delete(o);
}

TEST_F(Road, HandlerGetsTheParsedRequest) {
  EXPECT_EQ(ask("a/b/echo", "  {\"n\":[1,2],\"s\":\"x\"}\n", true), "{\"n\":[1,2],\"s\":\"x\"}");
  EXPECT_EQ(ask("echo", "{}"), "{}");  // a one-level topic names its hook too
}

// A standard MQTT 5 client (mosquitto_rr, as a new user would try) gets its answer on the Response
// Topic it names, with its Correlation Data; failures too. The "/R" reply is still sent.
TEST_F(Road, StandardRequestResponseClientsGetTheirAnswer) {
  ASSERT_EQ(ask("rr/echo", "{}", true), "{}");
  size_t from = client_->received().size();
  const struct {
    const char *topic, *body, *want;
  } cases[] = {
      {"rr/echo", R"({"a":1})", R"(req-42|me/answers|{"a":1})"},
      {"rr/bad/echo", "[1]", "req-42|me/answers|{\n\t\"success\":\tfalse,\n\t\"error\":\t\"request body is not a JSON object\"\n}"},
  };
  for (const auto &c : cases) {
    CmdResult rr = run_shell(std::string("mosquitto_rr -h 127.0.0.1 -W 5 -e me/answers -D publish correlation-data req-42 "
                                         "-F '%D|%t|%p' -t ") + c.topic + " -m '" + c.body + "'");
    EXPECT_EQ(rr.status, 0) << c.topic;
    EXPECT_EQ(trimmed(rr.output), c.want) << c.topic;
  }
  for (int i = 0; i < 250 && find("rr/bad/echo/R", from) < 0; ++i) client_->serve_a_little();
  EXPECT_GE(find("rr/echo/R", from), 0);
  EXPECT_GE(find("rr/bad/echo/R", from), 0);
}

TEST_F(Road, HostNameChangeIsStoredAndWrittenToHosts) {
  std::string reply = ask("router/set_hostname", R"({"hostname":"road-test.1","wtime":30,"reserv":"r"})", true);
  cJSON *o = cJSON_Parse(reply.c_str());
  ASSERT_TRUE(cJSON_IsTrue(cJSON_GetObjectItem(o, "success"))) << reply;
  cJSON_Delete(o);
  EXPECT_EQ(member(reply, "wtime"), "30");
  EXPECT_EQ(member(reply, "reserv"), "r");
  EXPECT_EQ(member(reply, "lan_ip"), store_get("IP_ADDR"));
  EXPECT_EQ(store_get("HOST_NAME"), "\"road-test.1\"");  // read back from the store file
  EXPECT_EQ(read_file("/etc/hosts"), store_get("IP_ADDR") + "\troad-test.1\n");

  // Names that do not fit the hosts file are refused, and nothing changes.
  for (const char *bad : {R"({"hostname":"two words"})", R"({"hostname":"x;reboot"})", R"({"hostname":""})",
                          R"({})", R"({"hostname":"abcdefghijklmnopqrstuvwxyz0123456"})"}) {
    EXPECT_EQ(failure(ask("router/set_hostname", bad)), "hostname: 1 to 31 letters, digits, '-' or '.'") << bad;
  }
  EXPECT_EQ(store_get("HOST_NAME"), "\"road-test.1\"");
  EXPECT_EQ(read_file("/etc/hosts"), store_get("IP_ADDR") + "\troad-test.1\n");
}

TEST_F(Road, BadRequestsGetAFailureReplyAndALineAndServingGoesOn) {
  ASSERT_EQ(ask("r/echo", "{}", true), "{}");
  EXPECT_EQ(failure(ask("r/echo", "")), "empty request body");
  EXPECT_EQ(failure(ask("r/echo", "[1,2]")), "request body is not a JSON object");
  EXPECT_EQ(failure(ask("r/echo", "{\"a\":1} trailing")), "request body is not a JSON object");
  EXPECT_EQ(failure(ask("r/echo", "not json")), "request body is not a JSON object");
  std::string mib(1 << 20, ' ');
  mib.front() = '{';
  mib.back() = '}';
  EXPECT_EQ(failure(ask("r/echo", mib)), "request body too large: 1048576 bytes (at most 65536)");
  // The module that could not load is named where its hooks are missed.
  EXPECT_EQ(failure(ask("r/nosuch", "{}")), "no handler for \"nosuch\" (handler modules that failed to load: broken.so)");
  EXPECT_EQ(ask("r/echo", "{\"still\":true}"), "{\"still\":true}");

  std::string err = read_file(kSubErr);
  EXPECT_NE(err.find("brim_sub: cannot load handler module " + std::string(kModules) + "/broken.so: "), std::string::npos) << err;
  for (const char *line : {"brim_sub: r/echo: empty request body\n", "brim_sub: r/echo: request body is not a JSON object\n",
                           "brim_sub: r/echo: request body too large: 1048576 bytes (at most 65536)\n",
                           "brim_sub: r/nosuch: no handler for \"nosuch\""})
    EXPECT_NE(err.find(line), std::string::npos) << line << "\nin:\n" << err;
}

TEST_F(Road, ReplyTopicsAndOverlongTopicsGetNoReply) {
  ASSERT_EQ(ask("r/echo", "{}", true), "{}");
  std::string longest = std::string(248, 'x') + "/echo";  // 253: its reply topic still fits
  std::string overlong = "y" + longest;
  size_t from = client_->received().size();
  publish("r/echo/R", "{}");
  publish("r/R", "{}");
  publish(overlong, "{}");
  // Messages are served in order: once this reply is in, the ones before were dealt with.
  EXPECT_EQ(ask(longest, "{\"last\":1}"), "{\"last\":1}");
  EXPECT_EQ(find("r/echo/R/R", from), -1);
  EXPECT_EQ(find("r/R/R", from), -1);
  EXPECT_EQ(find(overlong + "/R", from), -1);
  EXPECT_NE(read_file(kSubErr).find("brim_sub: request topic of more than 253 characters dropped (no reply topic fits): yxxx"),
            std::string::npos);
}

// It restarts the broker under the running subscriber.
TEST_F(Road, ServesAgainAfterTheBrokerRestarts) {
  ASSERT_EQ(ask("r/echo", "{}", true), "{}");
  std::vector<pid_t> sub = find_processes("brim_sub");
  ASSERT_EQ(sub.size(), 1u);
  client_.reset();
  run_shell("killall vz_broker");
  ASSERT_TRUE(wait_for_process("vz_broker", false));
  ASSERT_EQ(run_shell("vz_broker -c /etc/mosquitto.conf >/dev/null 2>&1 &").status, 0);
  ASSERT_TRUE(wait_for_process("vz_broker", true));
  ASSERT_TRUE(broker_accepts());

  connect();
  EXPECT_EQ(ask("r/echo", "{\"again\":1}", true), "{\"again\":1}");
  EXPECT_EQ(find_processes("brim_sub"), sub);  // the same subscriber, no new boot
}

// Last in the suite: the subscriber is killed from before a host name change arrives to after
// its commit, a fraction of a millisecond further each round. The store always reads back
// whole, holding one of the names asked for, and the next boot serves again.
TEST_F(Road, SubscriberKilledMidRequestLosesNothingStored) {
  std::vector<std::string> names = {store_get("HOST_NAME")};
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_EQ(ask("k/echo", "{\"up\":1}", true), "{\"up\":1}");
    std::vector<pid_t> sub = find_processes("brim_sub");
    ASSERT_EQ(sub.size(), 1u);
    std::string name = "killed-" + std::to_string(round);
    names.push_back("\"" + name + "\"");
    publish("k/set_hostname", "{\"hostname\":\"" + name + "\"}");
    usleep(static_cast<useconds_t>(round * 400));
    kill(sub[0], SIGKILL);
    ASSERT_TRUE(wait_for_process("brim_sub", false));

    EXPECT_EQ(run_shell("APMIB_STORE=/etc/apmib.store apmib show >/dev/null").status, 0);
    std::string stored = store_get("HOST_NAME");
    EXPECT_NE(std::find(names.begin(), names.end(), stored), names.end()) << stored;
    client_.reset();
    boot();
    connect();
  }
  EXPECT_EQ(ask("k/echo", "{\"again\":1}", true), "{\"again\":1}");
  std::string reply = ask("k/set_hostname", "{\"hostname\":\"after-kills\"}");
  EXPECT_NE(reply.find("\"success\":\ttrue"), std::string::npos) << reply;
  EXPECT_EQ(store_get("HOST_NAME"), "\"after-kills\"");
  EXPECT_EQ(find_processes("brim_sub").size(), 1u);
}

}  // namespace
