// The management road end to end, as on the router: brim_init boots, its subscriber loads the
// handler modules, and requests published on the sandbox's broker come back as replies built
// from library calls. The test is an MQTT client like any other.
#include <algorithm>
#include <csignal>
#include <memory>
#include <tuple>

#include "brimlib.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

const std::string kModules = "/tmp/brim_road_modules", kSubErr = "/tmp/brim_road_sub.err";
const std::string kStoreBackup = "/tmp/brim_road_store.bak";

std::string store_get(const std::string &key) {
  return trimmed(run_shell("APMIB_STORE=/etc/apmib.store apmib get " + key).output);
}

std::string failure(const std::string &reply) {  // the error text of a failure reply
  EXPECT_NE(reply.find("\"success\":\tfalse"), std::string::npos) << reply;
  return json_text(reply, "error");
}

// One boot for the suite (and one after each kill): the shipped module, the echo module and one
// that cannot load; the subscriber's standard error goes to kSubErr.
class Road : public SandboxTest {
 protected:
  static void TearDownTestSuite() {
    if (booted_) run_shell("killall brim_sub 2>/dev/null; cp -f " + kStoreBackup + " /etc/apmib.store; rm -rf " +
                           kModules + " " + kStoreBackup + " " + kSubErr);
  }
  void prepare() override {
    if (!booted_) boot();
    connect();
  }
  void connect() {
    client_ = std::make_unique<Client>();
    ASSERT_TRUE(client_->connect(1883));
    ASSERT_TRUE(client_->subscribe("#"));
  }
  static void boot() {
    const std::string build = std::getenv("BRIM_BUILD") ? std::getenv("BRIM_BUILD") : "";
    BRIM_SH("rm -rf " + kModules + " && mkdir " + kModules + " && ln -s " + build + "/modules/device_status.so " + build +
            "/tests/modules/echo_module.so " + kModules + " && echo 'not a module' > " + kModules + "/broken.so" +
            (booted_ ? "" : " && cp /etc/apmib.store " + kStoreBackup));
    booted_ = true;
    boot_router("BRIM_MODULE_DIR=" + kModules, kSubErr);
  }
  void publish(const std::string &topic, const std::string &body) {
    ASSERT_EQ(mosquitto_publish(client_->handle(), nullptr, topic.c_str(), static_cast<int>(body.size()),
                                body.empty() ? nullptr : body.data(), 0, false), MOSQ_ERR_SUCCESS);
  }
  long find(const std::string &topic, size_t from = 0) {  // first message on topic from `from`; -1
    const auto &got = client_->received();
    for (size_t i = from; i < got.size(); ++i)
      if (got[i].topic == topic) return static_cast<long>(i);
    return -1;
  }
  // Publishes a request and serves until its reply arrives. With `retry`, first waits for the
  // subscriber (right after a boot or a broker restart it may not be subscribed yet) by echo probes
  // on a topic of their own, so that a late reply to a repeated request is never taken for the
  // reply to the next one on the same topic; the request itself goes out once.
  std::string ask(const std::string &topic, const std::string &body, bool retry = false) {
    size_t probed = client_->received().size();
    for (int i = 0; retry && i < 1000 && find("probe/echo/R", probed) < 0; ++i) {
      if (i % 5 == 0) publish("probe/echo", "{}");
      client_->serve_a_little();
    }
    size_t from = client_->received().size();
    publish(topic, body);
    for (int i = 1; i <= 500; ++i) {
      client_->serve_a_little();
      if (long at = find(topic + "/R", from); at >= 0) return client_->received()[static_cast<size_t>(at)].payload;
    }
    return "<no reply>";
  }

  static inline bool booted_ = false;
  std::unique_ptr<Client> client_;
};

TEST_F(Road, StatusReplyComesFromTheStoreAndTheKernel) {
  ASSERT_TRUE(write_file("/etc/resolv.conf", "nameserver 10.9.8.7\nnameserver 2001:db8:aaaa:bbbb::53\n"
                                             "nameserver 10.9.8.6\nnameserver 10.9.8.5\n"));
  std::string reply = ask("router/status", "{}", true);
  cJSON *o = cJSON_Parse(reply.c_str());
  ASSERT_TRUE(cJSON_IsObject(o)) << reply;
  EXPECT_EQ(json_text(reply, "lan_ip"), store_get("IP_ADDR"));
  EXPECT_EQ(json_text(reply, "lan_netmask"), store_get("SUBNET_MASK"));
  EXPECT_EQ(cJSON_GetNumberValue(cJSON_GetObjectItem(o, "op_mode")), std::stoi(store_get("OP_MODE")));
  EXPECT_EQ(json_text(reply, "wan_if"), "eth1");
  // Without an ISP, eth1 has link but no lease: not connected, no time yet.
  EXPECT_EQ(json_text(reply, "wan_ip"), "0.0.0.0");
  EXPECT_EQ(json_text(reply, "wan_gateway"), "0.0.0.0");
  EXPECT_TRUE(cJSON_IsFalse(cJSON_GetObjectItem(o, "wan_connected")));
  EXPECT_EQ(json_text(reply, "wan_link_time"), "0;0;0;0");
  EXPECT_NE(json_text(reply, "uptime"), "") << reply;  // its format is in the unit tests
  std::string got;
  cJSON *server = nullptr;
  cJSON_ArrayForEach(server, cJSON_GetObjectItem(o, "dns")) got += std::string(server->valuestring) + " ";
  EXPECT_EQ(got, "10.9.8.7 10.9.8.6 ");  // IPv4 servers only, two at most
  cJSON_Delete(o);
}

// A standard MQTT 5 client (mosquitto_rr) gets its answer on the Response Topic it names, with
// its Correlation Data; failures too. The "/R" reply is still sent.
TEST_F(Road, HandlersGetTheParsedRequestAndStandardClientsTheirAnswer) {
  EXPECT_EQ(ask("a/b/echo", "  {\"n\":[1,2],\"s\":\"x\"}\n", true), "{\"n\":[1,2],\"s\":\"x\"}");
  EXPECT_EQ(ask("echo", "{}"), "{}");  // a one-level topic names its hook too
  size_t from = client_->received().size();
  for (const auto &[topic, body, want] :
       {std::tuple{"rr/echo", R"({"a":1})", R"(req-42|me/answers|{"a":1})"},
        {"rr/bad/echo", "[1]", "req-42|me/answers|{\n\t\"success\":\tfalse,\n\t\"error\":\t\"request body is not a JSON object\"\n}"}}) {
    CmdResult rr = run_shell(std::string("mosquitto_rr -h 127.0.0.1 -W 20 -e me/answers -D publish correlation-data req-42 "
                                         "-F '%D|%t|%p' -t ") + topic + " -m '" + body + "'");
    EXPECT_EQ(rr.status, 0) << topic;
    EXPECT_EQ(trimmed(rr.output), want) << topic;
  }
  for (int i = 0; i < 500 && find("rr/bad/echo/R", from) < 0; ++i) client_->serve_a_little();
  EXPECT_GE(find("rr/echo/R", from), 0);
  EXPECT_GE(find("rr/bad/echo/R", from), 0);
}

TEST_F(Road, HostNameChangeIsStoredAndWrittenToHosts) {
  std::string reply = ask("router/set_hostname", R"({"hostname":"road-test.1","wtime":30,"reserv":"r"})", true);
  EXPECT_NE(reply.find("\"success\":\ttrue"), std::string::npos) << reply;
  EXPECT_EQ(json_text(reply, "wtime"), "30");
  EXPECT_EQ(json_text(reply, "reserv"), "r");
  EXPECT_EQ(json_text(reply, "lan_ip"), store_get("IP_ADDR"));
  const std::string hosts = store_get("IP_ADDR") + "\troad-test.1\n";
  EXPECT_EQ(store_get("HOST_NAME"), "\"road-test.1\"");  // read back from the store file
  EXPECT_EQ(read_file("/etc/hosts"), hosts);
  for (const char *bad : {R"({"hostname":"x;reboot"})", R"({})", R"({"hostname":"abcdefghijklmnopqrstuvwxyz0123456"})"})
    EXPECT_EQ(failure(ask("router/set_hostname", bad)), "hostname: 1 to 31 letters, digits, '-' or '.'") << bad;
  EXPECT_EQ(store_get("HOST_NAME"), "\"road-test.1\"");  // refused names change nothing
  EXPECT_EQ(read_file("/etc/hosts"), hosts);
}

TEST_F(Road, BadRequestsAndReplyTopicsGetAFailureReplyOrNoneAndServingGoesOn) {
  ASSERT_EQ(ask("r/echo", "{}", true), "{}");
  std::string mib(1 << 20, ' ');
  mib.front() = '{', mib.back() = '}';
  for (const auto &[body, error] : {std::pair<std::string, std::string>{"", "empty request body"},
                                    {"{\"a\":1} trailing", "request body is not a JSON object"},
                                    {mib, "request body too large: 1048576 bytes (at most 65536)"}})
    EXPECT_EQ(failure(ask("r/echo", body)), error) << body.substr(0, 20);
  // The module that could not load is named where its hooks are missed.
  EXPECT_EQ(failure(ask("r/nosuch", "{}")), "no handler for \"nosuch\" (handler modules that failed to load: broken.so)");
  std::string longest = std::string(248, 'x') + "/echo";  // 253: its reply topic still fits
  std::string overlong = "y" + longest;
  size_t from = client_->received().size();
  publish("r/echo/R", "{}");
  publish("r/R", "{}");
  publish(overlong, "{}");
  // Served in order: once this reply is in, the ones before were dealt with.
  EXPECT_EQ(ask(longest, "{\"last\":1}"), "{\"last\":1}");
  for (const std::string &t : {std::string("r/echo/R/R"), std::string("r/R/R"), overlong + "/R"}) EXPECT_EQ(find(t, from), -1) << t;
  std::string err = read_file(kSubErr);
  for (const std::string &line : {"brim_sub: cannot load handler module " + kModules + "/broken.so: ",
                                  std::string("brim_sub: r/echo: request body too large: 1048576 bytes (at most 65536)\n"),
                                  std::string("brim_sub: request topic of more than 253 characters dropped (no reply topic fits): yxxx")})
    EXPECT_NE(err.find(line), std::string::npos) << line << "\nin:\n" << err;
}

TEST_F(Road, ServesAgainAfterTheBrokerRestarts) {
  ASSERT_EQ(ask("r/echo", "{}", true), "{}");
  std::vector<pid_t> sub = find_processes("brim_sub");
  ASSERT_EQ(sub.size(), 1u);
  client_.reset();
  run_shell("killall vz_broker");
  ASSERT_TRUE(wait_for_process("vz_broker", false));
  ASSERT_EQ(run_shell("vz_broker -c /etc/mosquitto.conf >/dev/null 2>&1 &").status, 0);
  ASSERT_TRUE(wait_until([] { return accepts_connections(1883); }, 20000));
  connect();
  EXPECT_EQ(ask("r/echo", "{\"again\":1}", true), "{\"again\":1}");
  EXPECT_EQ(find_processes("brim_sub"), sub);  // the same subscriber, no new boot
}

// Last: the subscriber is killed from before a host name change arrives to after its commit, a
// little further each round. The store always reads back whole, holding one of the names asked
// for, and the next boot serves again.
TEST_F(Road, SubscriberKilledMidRequestLosesNothingStored) {
  Lines names = {store_get("HOST_NAME")};
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
    EXPECT_NE(std::find(names.begin(), names.end(), store_get("HOST_NAME")), names.end()) << store_get("HOST_NAME");
    client_.reset();
    boot();
    connect();
  }
  std::string reply = ask("k/set_hostname", "{\"hostname\":\"after-kills\"}", true);
  EXPECT_NE(reply.find("\"success\":\ttrue"), std::string::npos) << reply;
  EXPECT_EQ(store_get("HOST_NAME"), "\"after-kills\"");
  EXPECT_EQ(find_processes("brim_sub").size(), 1u);
}

}  // namespace
