// Request-to-reply through the subscriber and a trivial handler module, against a minimal
// libmosquitto responder answering with a fixed reply on a broker of its own (the subscriber
// answers every topic on its broker). Runs inside the simulated router only.
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "brimlib.h"

namespace {

constexpr int kRouterPort = 1883;
constexpr int kAnchorPort = 1884;

struct Waiter {
  long replies = 0;
};

void on_reply(struct mosquitto *, void *obj, const struct mosquitto_message *) {
  static_cast<Waiter *>(obj)->replies++;
}

// The anchor: answers every request with the same fixed reply on its topic + "/R".
void on_request(struct mosquitto *m, void *, const struct mosquitto_message *msg) {
  size_t n = std::strlen(msg->topic);
  if (n >= 2 && std::strcmp(msg->topic + n - 2, "/R") == 0) return;
  char topic[300];
  std::snprintf(topic, sizeof topic, "%s/R", msg->topic);
  mosquitto_publish(m, nullptr, topic, 2, "{}", 0, false);
}

pid_t start_anchor() {
  pid_t pid = fork();
  if (pid != 0) return pid;
  mosquitto *m = mosquitto_new(nullptr, true, nullptr);
  // Connected as the subscriber is (MQTT 5, no-local, no Nagle): without no-local the broker
  // echoes each reply back, and the next request waits for a delayed ACK.
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_message_callback_set(m, on_request);
  for (int i = 0; i < 100 && mosquitto_connect(m, "127.0.0.1", kAnchorPort, 30) != MOSQ_ERR_SUCCESS; ++i)
    usleep(20000);
  mosquitto_subscribe_v5(m, nullptr, "#", 0, MQTT_SUB_OPT_NO_LOCAL, nullptr);
  mosquitto_loop_forever(m, -1, 1);
  _exit(0);
}

struct Client {
  mosquitto *m = nullptr;
  Waiter w;
  bool connect(int port, const char *reply_filter) {
    m = mosquitto_new(nullptr, true, &w);
    mosquitto_message_callback_set(m, on_reply);
    for (int i = 0; i < 100; ++i) {
      if (mosquitto_connect(m, "127.0.0.1", port, 30) == MOSQ_ERR_SUCCESS) {
        mosquitto_subscribe(m, nullptr, reply_filter, 0);
        for (int j = 0; j < 20; ++j) mosquitto_loop(m, 10, 1);
        return true;
      }
      usleep(20000);
    }
    return false;
  }
  // Publishes `count` requests, then serves the connection until every reply is in (bounded).
  bool ask(const char *topic, int count) {
    long want = w.replies + count;
    for (int i = 0; i < count; ++i) mosquitto_publish(m, nullptr, topic, 2, "{}", 0, false);
    double deadline = bench::now_ns() + 10e9;
    while (w.replies < want && bench::now_ns() < deadline) mosquitto_loop(m, 5, 1);
    return w.replies >= want;
  }
};

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * (v.size() - 1))];
}

}  // namespace

int main() {
  const char *in = getenv("BRIM_SANDBOX");
  if (!in || std::strcmp(in, "1") != 0) return 0;
  mosquitto_lib_init();
  BrimSystem("brim_init >/dev/null 2>&1", 0);
  // The anchor's broker runs with the router broker's own settings, on the next port.
  BrimSystem("sed -e 's/1883/1884/' -e 's|/var/log/mosquitto.log|/var/log/anchor.log|' /etc/mosquitto.conf"
             " > /tmp/anchor.conf; mosquitto -c /tmp/anchor.conf >/dev/null 2>&1 &", 0);
  pid_t anchor = start_anchor();
  Client ours, theirs;
  if (!ours.connect(kRouterPort, "bench/dev/echo/R") || !theirs.connect(kAnchorPort, "bench/dev/echo/R")) {
    std::fprintf(stderr, "road_bench: no broker\n");
    return 1;
  }
  // Warm up both roads (module loading, first connections).
  if (!ours.ask("bench/dev/echo", 20) || !theirs.ask("bench/dev/echo", 20)) {
    std::fprintf(stderr, "road_bench: no replies\n");
    return 1;
  }
  std::vector<double> a, b;
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < 50; ++i) {
      double t0 = bench::now_ns();
      ours.ask("bench/dev/echo", 1);
      a.push_back(bench::now_ns() - t0);
      t0 = bench::now_ns();
      theirs.ask("bench/dev/echo", 1);
      b.push_back(bench::now_ns() - t0);
    }
  }
  bench::report("request round trip p50: subscriber / responder", percentile(a, 0.5) / 1000,
                percentile(b, 0.5) / 1000, "us", "(p99 is the goal)");
  bench::report("request round trip p99: subscriber / responder", percentile(a, 0.99) / 1000,
                percentile(b, 0.99) / 1000, "us", "<= 1.5");
  auto [ours_ns, theirs_ns] = bench::side_by_side(
      5, 1, [&] { ours.ask("bench/dev/echo", 500); }, [&] { theirs.ask("bench/dev/echo", 500); });
  bench::report("requests/s through the subscriber / responder", 500e9 / ours_ns, 500e9 / theirs_ns, "1/s",
                ">= 0.7");
  kill(anchor, SIGTERM);
  waitpid(anchor, nullptr, 0);
  return 0;
}
