// Load test of the request subscriber in the booted router (tests/load/load_inside.sh): N clients send
// requests at a steady rate through the broker to brim_sub and check every reply, while brim_sub's
// resident memory is sampled once a second.   brim_load -p PID [-c CLIENTS] [-r RATE/s] [-d SECONDS]
// Client k asks under "loadk/". Of each 20 requests one is "set_hostname" (success, "reserv" handed
// back), half "echo" (the exact text sent), the rest "status" (a non-empty "lan_ip", in order).
#include <cjson/cJSON.h>
#include <mosquitto.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr char kProbe[] = "{\"probe\":true}";  // not counted: only shows the subscriber serves
// The last tenth's average VmRSS may exceed the first tenth's by this much. brim_sub stays within 3
// pages over 10 min at 4 x 25/s; 16 pages still catch a leak of one smallest block per request.
constexpr long kRssToleranceKiB = 64;
std::mutex g_mu;  // the clients' state: libmosquitto's threads take the replies, main sends

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

template <class Done>
bool wait_until(double deadline, Done done) {
  while (!done() && now_s() < deadline) usleep(100 * 1000);
  return done();
}

struct Client {
  int k = 0;
  std::string prefix;
  mosquitto *m = nullptr;
  bool connected = false;
  long probes = 0, sent = 0, matched = 0, bad = 0, status_waiting = 0;
  std::map<std::string, std::pair<std::string, double>> by_id;  // echo and host name: body, sent at
  std::vector<double> round_trips;
  std::vector<std::string> notes;

  static void on_connect(mosquitto *mosq, void *self, int rc) {  // subscribes again after a reconnect
    std::lock_guard lock(g_mu);
    auto &c = *static_cast<Client *>(self);
    c.connected = rc == 0 && mosquitto_subscribe(mosq, nullptr, (c.prefix + "+/R").c_str(), 0) == 0;
  }
  void note(const std::string &what, const std::string &text = "") {
    if (++bad <= 5) notes.push_back("client " + std::to_string(k) + ": " + what + " " + text.substr(0, 200));
  }
  void publish(const std::string &hook, const std::string &body) {  // a lost one shows as unanswered
    mosquitto_publish(m, nullptr, (prefix + hook).c_str(), int(body.size()), body.data(), 0, false);
  }
  long outstanding() const { return static_cast<long>(by_id.size()) + status_waiting; }

  void send(long seq, double now) {
    std::string id = std::to_string(k) + "-" + std::to_string(seq);
    if (seq % 20 == 19) {
      by_id[id] = {"", now};
      publish("set_hostname", "{\"hostname\":\"load-" + std::to_string(k) + "\",\"reserv\":\"" + id + "\"}");
    } else if (seq % 2 == 0) {
      by_id[id] = {"{\"id\":\"" + id + "\",\"seq\":" + std::to_string(seq) + "}", now};
      publish("echo", by_id[id].first);
    } else {
      ++status_waiting;
      publish("status", "{}");
    }
    ++sent;
  }

  void on_reply(const mosquitto_message *msg) {
    std::string topic = msg->topic, text;
    if (msg->payload) text.assign(static_cast<const char *>(msg->payload), msg->payloadlen);
    if (text == kProbe) return void(probes += topic == prefix + "echo/R");
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
      else if (echo ? text == it->second.first : cJSON_IsTrue(cJSON_GetObjectItem(r, "success")))
        ++matched, round_trips.push_back(now_s() - it->second.second), by_id.erase(it);
      else note("reply not what its request asked for:", text), by_id.erase(it);
    } else {
      note("reply on a topic never asked on:", topic);
    }
    cJSON_Delete(r);
  }
};

long rss_kib(pid_t pid) {  // -1 once the process is gone
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  int n = 4, seconds = 60;
  double rate = 25;
  pid_t sub = 0;
  for (int c; (c = getopt(argc, argv, "c:r:d:p:")) != -1;)
    if (c == 'c') n = std::atoi(optarg);
    else if (c == 'r') rate = std::atof(optarg);
    else if (c == 'd') seconds = std::atoi(optarg);
    else if (c == 'p') sub = std::atoi(optarg);
    else return 2;
  if (optind != argc || n < 1 || rate <= 0 || seconds < 1 || sub <= 0 || rss_kib(sub) < 0)
    return std::fprintf(stderr, "usage: brim_load -p BRIM_SUB_PID [-c CLIENTS] [-r RATE] [-d SECONDS]\n"), 2;
  std::printf("brim_load: %d clients x %g requests/s for %d s; watching brim_sub %d\n", n, rate, seconds, sub);
  std::fflush(stdout);

  mosquitto_lib_init();
  std::vector<Client> clients(n);
  for (int k = 0; k < n; ++k) {
    Client &c = clients[k];
    c.k = k, c.prefix = "load" + std::to_string(k) + "/", c.m = mosquitto_new(nullptr, true, &c);
    mosquitto_connect_callback_set(c.m, Client::on_connect);
    mosquitto_message_callback_set(c.m, [](mosquitto *, void *self, const mosquitto_message *msg) {
      std::lock_guard lock(g_mu);
      static_cast<Client *>(self)->on_reply(msg);
    });
    // The library's thread connects, and connects again, on its own.
    mosquitto_connect_async(c.m, "127.0.0.1", 1883, 30);
    mosquitto_loop_start(c.m);
  }
  // Right after the boot the subscriber may not be subscribed yet: probe until each client has a reply.
  bool ready = wait_until(now_s() + 15, [&] {
    std::lock_guard lock(g_mu);
    for (Client &c : clients)
      if (c.connected && c.probes == 0) c.publish("echo", kProbe);
    return std::all_of(clients.begin(), clients.end(), [](const Client &c) { return c.probes > 0; });
  });
  std::vector<std::string> failures;
  for (const Client &c : clients)
    if (c.probes == 0)
      failures.push_back("client " + std::to_string(c.k) + (c.connected ? ": no reply" : ": not connected"));

  // One schedule for all: clients take turns, each at its rate; a late send moves the schedule on.
  std::vector<long> rss;
  const double tick = 1 / rate / n, start = now_s();
  double next = start;
  for (long i = 0, s = 1; ready && s <= seconds;) {
    double now = now_s();
    if (now >= start + s) {
      rss.push_back(rss_kib(sub));
      if (rss.back() < 0) {
        rss.pop_back();
        failures.push_back("brim_sub went away during the run");
        break;
      }
      ++s;
    } else if (now >= next) {
      std::lock_guard lock(g_mu);
      clients[i % n].send(i / n, now);
      ++i;
      next = std::max(next + tick, now);
    } else {
      usleep(static_cast<useconds_t>((std::min(next, start + s) - now) * 1e6));
    }
  }
  wait_until(now_s() + 5, [&] {
    std::lock_guard lock(g_mu);
    return std::all_of(clients.begin(), clients.end(), [](const Client &c) { return c.outstanding() == 0; });
  });
  long sent = 0, matched = 0, bad = 0;
  std::vector<double> trips;
  for (Client &c : clients) {
    mosquitto_disconnect(c.m);
    mosquitto_loop_stop(c.m, false);
    mosquitto_destroy(c.m);
    if (c.outstanding()) c.note(std::to_string(c.outstanding()) + " requests unanswered");
    sent += c.sent, matched += c.matched, bad += c.bad;
    trips.insert(trips.end(), c.round_trips.begin(), c.round_trips.end());
    for (const std::string &note : c.notes) std::printf("  %s\n", note.c_str());
  }
  mosquitto_lib_cleanup();

  std::printf("requests sent: %ld, replies matched: %ld, problems: %ld\n", sent, matched, bad);
  std::sort(trips.begin(), trips.end());
  auto ms = [&](double q) { return trips.empty() ? 0 : 1e3 * trips[size_t(q * double(trips.size() - 1))]; };
  std::printf("round trip (echo, host name): p50 %.2f ms, p99 %.2f ms, max %.2f ms over %zu replies\n", ms(0.5),
              ms(0.99), ms(1), trips.size());
  if (bad > 0 || matched != sent) failures.push_back(std::to_string(sent - matched) + " requests unmatched");
  size_t w = std::min(rss.size(), std::max<size_t>(5, rss.size() / 10));  // windows of a tenth, at least 5 s
  auto avg = [&](size_t from) { return w ? std::accumulate(&rss[from], &rss[from] + w, 0.0) / w : 0; };
  double first = avg(0), last = avg(rss.size() - w);
  std::printf("VmRSS (KiB): first %zu s avg %.1f, last %zu s avg %.1f, %zu samples\n", w, first, w, last,
              rss.size());
  if (rss.empty() && ready) failures.push_back("no RSS samples");
  if (last > first + kRssToleranceKiB) failures.push_back("VmRSS grew by more than 64 KiB: a leak under load?");
  for (const auto &f : failures) std::printf("brim_load: FAIL: %s\n", f.c_str());
  if (failures.empty()) std::printf("brim_load: PASS\n");
  return failures.empty() ? 0 : 1;
}
