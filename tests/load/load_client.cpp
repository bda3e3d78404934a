// Load test of the request subscriber: N MQTT clients, each on its own connection and thread,
// send requests at a steady rate through the broker to brim_sub and check every reply, while
// brim_sub's resident memory is sampled once a second. Runs inside the simulated router after a
// boot (tests/load/load_inside.sh).   brim_load -p PID [-c CLIENTS] [-r RATE/s/client] [-d SECONDS]
// Client k asks under "loadk/" and subscribes to "loadk/+/R". In each cycle of 20 requests:
// "echo" with {"id":..,"seq":..} must come back as the exact text sent; "status" must answer an
// object with a non-empty "lan_ip"; once, "set_hostname" must say success and hand "reserv" back.
// Echo and host name replies are matched by id, status replies in order.
#include <cjson/cJSON.h>
#include <mosquitto.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kProbe[] = "{\"probe\":true}";  // not counted: only shows the subscriber serves
// The last tenth's average VmRSS may exceed the first tenth's by this much. brim_sub stays
// within 3 pages over 10 min at 4 x 25/s; 16 pages still catch a leak of one smallest block per
// request (~5400 requests lie between the windows of a 60 s run).
constexpr long kRssToleranceKiB = 64;

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

int g_clients = 4, g_seconds = 60;
double g_rate = 25;
std::atomic<int> g_ready{0}, g_done_setup{0};
std::atomic<bool> g_go{false}, g_abort{false};
double g_start = 0;

struct LoadClient {
  int k;
  std::string prefix, error;
  mosquitto *m = nullptr;
  bool connected = false, subscribed = false, ready = false;
  long probes = 0, sent = 0, matched = 0, bad = 0;
  std::map<std::string, std::string> by_id;  // echo and host name requests awaiting their reply
  std::map<std::string, double> sent_at;     // their send times: the round trips of the report
  std::vector<double> round_trips;
  long status_waiting = 0;
  std::vector<std::string> notes;

  void note(const std::string &what, const std::string &text = "") {
    ++bad;
    if (notes.size() < 5) notes.push_back("client " + std::to_string(k) + ": " + what + " " + text.substr(0, 200));
  }
  template <class Done>
  bool serve_until(double deadline, Done done) {
    while (!done() && now_s() < deadline)
      if (mosquitto_loop(m, 20, 1) != MOSQ_ERR_SUCCESS) usleep(20 * 1000);
    return done();
  }
  void publish(const std::string &topic, const std::string &body) {
    if (mosquitto_publish(m, nullptr, topic.c_str(), static_cast<int>(body.size()), body.data(), 0, false) != 0)
      note("publish failed on", topic);  // its reply will also be missing
  }

  bool setup() {
    prefix = "load" + std::to_string(k) + "/";
    m = mosquitto_new(nullptr, true, this);
    if (m == nullptr) return error = "mosquitto_new failed", false;
    mosquitto_connect_callback_set(m, [](mosquitto *, void *s, int rc) { static_cast<LoadClient *>(s)->connected = !rc; });
    mosquitto_subscribe_callback_set(
        m, [](mosquitto *, void *s, int, int, const int *) { static_cast<LoadClient *>(s)->subscribed = true; });
    mosquitto_message_callback_set(
        m, [](mosquitto *, void *s, const mosquitto_message *msg) { static_cast<LoadClient *>(s)->on_reply(msg); });
    double deadline = now_s() + 15;
    while (mosquitto_connect(m, "127.0.0.1", 1883, 30) != MOSQ_ERR_SUCCESS)
      if (now_s() > deadline) return error = "cannot connect", false;
      else usleep(50 * 1000);
    std::string filter = prefix + "+/R";
    if (!serve_until(deadline, [this] { return connected; }) || mosquitto_subscribe(m, nullptr, filter.c_str(), 0) ||
        !serve_until(deadline, [this] { return subscribed; }))
      return error = "cannot subscribe", false;
    // Right after the boot the subscriber may not be subscribed yet: probe until it answers.
    while (probes == 0 && now_s() < deadline) {
      publish(prefix + "echo", kProbe);
      serve_until(std::min(deadline, now_s() + 0.2), [this] { return probes > 0; });
    }
    return probes > 0 || (error = "no reply to the probe: is brim_sub serving?", false);
  }

  void run() {
    bool ok = setup();
    ready = ok;
    ++(ok ? g_ready : g_done_setup);
    if (!ok) error = "client " + std::to_string(k) + ": " + error;
    while (ok && !g_go && !g_abort) mosquitto_loop(m, 10, 1);
    if (ok && !g_abort) load();
    if (m) mosquitto_destroy(m);
  }

  void load() {
    const double period = 1.0 / g_rate, end = g_start + g_seconds;
    double next = g_start + period * k / g_clients;  // clients interleave evenly
    for (long seq = 0; !g_abort;) {
      double now = now_s();
      if (now >= end) break;
      if (now >= next) {
        std::string id = std::to_string(k) + "-" + std::to_string(seq);
        if (seq % 20 == 19) {
          std::string body = "{\"hostname\":\"load-" + std::to_string(k) + "\",\"reserv\":\"" + id + "\"}";
          by_id[id] = "";
          publish(prefix + "set_hostname", body);
        } else if (seq % 2 == 0) {
          std::string body = "{\"id\":\"" + id + "\",\"seq\":" + std::to_string(seq) + "}";
          by_id[id] = body;
          publish(prefix + "echo", body);
        } else {
          ++status_waiting;
          publish(prefix + "status", "{}");
        }
        sent_at[id] = now;
        ++seq, ++sent;
        next = std::max(next + period, now);  // a steady rate: a late send moves the schedule on
      } else if (int rc = mosquitto_loop(m, std::clamp(static_cast<int>((next - now) * 1000), 0, 100), 1)) {
        note("connection lost:", mosquitto_strerror(rc));
        break;
      }
    }
    serve_until(now_s() + 5, [this] { return by_id.empty() && status_waiting == 0; });
    if (!by_id.empty() || status_waiting) note(std::to_string(by_id.size() + status_waiting) + " requests unanswered");
  }

  void on_reply(const mosquitto_message *msg) {
    std::string topic = msg->topic, text(msg->payload ? static_cast<const char *>(msg->payload) : "", msg->payload ? msg->payloadlen : 0);
    if (text == kProbe) return void(probes += topic == prefix + "echo/R");
    if (!ready) return;
    cJSON *r = cJSON_Parse(text.c_str());
    if (topic == prefix + "status/R") {
      const char *lan = cJSON_GetStringValue(cJSON_GetObjectItem(r, "lan_ip"));
      if (status_waiting-- <= 0) note("status reply with none outstanding:", text);
      else if (lan && *lan) ++matched;
      else note("status reply without \"lan_ip\":", text);
    } else if (bool echo = topic == prefix + "echo/R"; echo || topic == prefix + "set_hostname/R") {
      const char *id = cJSON_GetStringValue(cJSON_GetObjectItem(r, echo ? "id" : "reserv"));
      auto it = id ? by_id.find(id) : by_id.end();
      if (it == by_id.end()) note("reply to no outstanding request:", text);
      else if (echo ? text == it->second : cJSON_IsTrue(cJSON_GetObjectItem(r, "success")))
        ++matched, round_trips.push_back(now_s() - sent_at[id]), by_id.erase(it);
      else note("reply not what its request asked for:", text), by_id.erase(it);
    } else {
      note("reply on a topic never asked on:", topic);
    }
    cJSON_Delete(r);
  }
};

long rss_kib(pid_t pid) {  // -1 once the process is gone
  FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (f == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f) && std::sscanf(line, "VmRSS: %ld kB", &kib) != 1) {
  }
  std::fclose(f);
  return kib;
}

}  // namespace

int main(int argc, char **argv) {
  pid_t sub = 0;
  for (int c; (c = getopt(argc, argv, "c:r:d:p:")) != -1;)
    if (c == 'c') g_clients = std::atoi(optarg);
    else if (c == 'r') g_rate = std::atof(optarg);
    else if (c == 'd') g_seconds = std::atoi(optarg);
    else if (c == 'p') sub = std::atoi(optarg);
    else return 2;
  if (optind != argc || g_clients < 1 || g_rate <= 0 || g_seconds < 1 || sub <= 0 || rss_kib(sub) < 0)
    return std::fprintf(stderr, "usage: brim_load -p BRIM_SUB_PID [-c CLIENTS] [-r RATE] [-d SECONDS]\n"), 2;
  std::printf("brim_load: %d clients x %g requests/s for %d s; watching brim_sub %d\n", g_clients, g_rate, g_seconds, sub);
  std::fflush(stdout);

  mosquitto_lib_init();
  std::vector<LoadClient> clients(static_cast<size_t>(g_clients));
  std::vector<std::thread> threads;
  for (int i = 0; i < g_clients; ++i) threads.emplace_back([&c = clients[static_cast<size_t>(i)], i] { c.k = i, c.run(); });
  for (double by = now_s() + 20; g_ready + g_done_setup < g_clients && now_s() < by;) usleep(10 * 1000);
  std::vector<std::string> failures;
  std::vector<long> rss;
  if (g_ready == g_clients) {
    g_start = now_s();
    g_go = true;
    for (int s = 1; s <= g_seconds; ++s) {
      for (double left; (left = g_start + s - now_s()) > 0;) usleep(static_cast<useconds_t>(left * 1e6));
      long kib = rss_kib(sub);
      if (kib < 0) {
        failures.push_back("brim_sub went away during the run");
        break;
      }
      rss.push_back(kib);
    }
  }
  g_abort = true;
  for (auto &t : threads) t.join();
  mosquitto_lib_cleanup();

  long sent = 0, matched = 0, bad = 0;
  std::vector<double> trips;
  for (const LoadClient &c : clients) {
    if (!c.error.empty()) failures.push_back(c.error);
    sent += c.sent, matched += c.matched, bad += c.bad;
    trips.insert(trips.end(), c.round_trips.begin(), c.round_trips.end());
    for (const std::string &n : c.notes) std::printf("  %s\n", n.c_str());
  }
  if (g_ready != g_clients && failures.empty()) failures.push_back("clients not ready in time");
  std::printf("requests sent: %ld, replies matched: %ld, problems: %ld\n", sent, matched, bad);
  std::sort(trips.begin(), trips.end());
  auto pct = [&](double q) { return trips.empty() ? 0.0 : 1e3 * trips[static_cast<size_t>(q * (trips.size() - 1))]; };
  std::printf("round trip (echo, host name): p50 %.2f ms, p99 %.2f ms, max %.2f ms over %zu replies\n", pct(0.5), pct(0.99), pct(1), trips.size());
  if (bad > 0 || matched != sent) failures.push_back(std::to_string(sent - matched) + " requests without their reply");
  size_t n = rss.size(), w = std::min(n, std::max<size_t>(5, n / 10));  // windows of a tenth, at least 5 s
  double first = 0, last = 0;
  for (size_t i = 0; i < w; ++i) first += static_cast<double>(rss[i]) / w, last += static_cast<double>(rss[n - w + i]) / w;
  std::printf("VmRSS (KiB): first %zu s avg %.1f, last %zu s avg %.1f, %zu samples\n", w, first, w, last, n);
  if (n == 0 && g_ready == g_clients) failures.push_back("no RSS samples");
  if (last > first + kRssToleranceKiB) failures.push_back("VmRSS grew by more than 64 KiB: a leak under load?");
  for (const auto &f : failures) std::printf("brim_load: FAIL: %s\n", f.c_str());
  if (failures.empty()) std::printf("brim_load: PASS\n");
  return failures.empty() ? 0 : 1;
}
