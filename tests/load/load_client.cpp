// Load test of the request subscriber: N MQTT clients, each on its own connection and thread,
// send requests at a steady rate through the broker to brim_sub and check every reply, while
// the subscriber's resident memory is sampled once a second. Runs inside the simulated router
// after a boot (tests/load/load_inside.sh); see usage() for the options.
//
// Each client k uses topics under "loadk/" only and subscribes to "loadk/+/R", so it sees its own
// replies and nobody else's. The mix, per client, in a cycle of 20 requests:
//   - "loadk/echo" with {"id":"k-SEQ","seq":SEQ}: the echo module answers the request object
//     back, so the reply must be exactly the text sent;
//   - "loadk/status": device_status answers an object whose "lan_ip" is a non-empty string;
//   - once a cycle, "loadk/set_hostname" with {"hostname":"load-k","reserv":"k-SEQ"}: the reply
//     must say "success": true and hand "reserv" back.
// Echo and host name replies are matched by their id; status replies carry nothing of the
// request and are matched in order (one subscriber serves one connection's requests in order).
#include <cjson/cJSON.h>
#include <dirent.h>
#include <mosquitto.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kBrokerPort = 1883;   // the sandbox's broker, from /etc/mosquitto.conf
constexpr int kCycle = 20;          // requests per mix cycle; the last one changes the host name
constexpr double kDrainSeconds = 5;  // how long replies may still come after the last request
constexpr double kReadySeconds = 15;  // connecting and the first answered probe, per client
constexpr char kProbe[] = "{\"probe\":true}";  // not counted: only shows the subscriber serves

// Last window's RSS average may exceed the first window's by at most this much. Under 4 x 25
// requests/s brim_sub's VmRSS stays within 3 pages (12 KiB) of its level from the first second,
// over 60 s and over 10 min (60000 requests): malloc reuses what the handlers free. 16 pages
// leave room for page-sized jitter yet catch a leak of one smallest block (32 bytes here, 16 on
// the 32-bit router) per request: ~5400 requests lie between the windows of a 60 s run. An echo
// handler that did not free its reply text made VmRSS grow by 520 KiB in 60 s.
constexpr long kRssToleranceKiB = 64;

double now_s() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Options {
  int clients = 4;
  double rate = 25;  // requests per second, per client
  int seconds = 60;
  std::string watch = "brim_sub";  // a pid, or a process name (/proc/PID/comm)
  bool verbose = false;
};

enum class Kind { Echo, Status, SetHostname };

struct Sent {
  Kind kind;
  std::string body;
  double at;
};

// What one client counted; read by the main thread only after the client's thread has ended.
struct Tally {
  long sent[3] = {0, 0, 0};
  long received = 0;   // replies on our reply topics during the timed run (probes excluded)
  long matched = 0;
  long malformed = 0;  // not the reply its request asks for (wrong text, no "lan_ip", failure)
  long unexpected = 0;  // a reply to no outstanding request (duplicate, unknown id)
  long missing[3] = {0, 0, 0};
  std::vector<double> latency_ms[3];  // per kind
  std::vector<std::string> notes;  // the first few problems, for the summary
  bool ready = false;
  bool lost = false;  // the connection broke during the run
  std::string setup_error;
};

std::atomic<int> g_ready{0};
std::atomic<int> g_setup_failed{0};
std::atomic<bool> g_go{false};
std::atomic<bool> g_abort{false};
double g_start = 0;  // written before g_go is set, read after it is seen

class LoadClient {
 public:
  LoadClient(int index, const Options &opt) : index_(index), opt_(opt) {
    prefix_ = "load" + std::to_string(index) + "/";
  }

  void run() {
    if (!setup()) {
      g_setup_failed++;
      return;
    }
    tally_.ready = true;
    g_ready++;
    // Keep the connection served until every client is ready.
    while (!g_go.load() && !g_abort.load()) mosquitto_loop(m_, 10, 1);
    if (!g_abort.load()) load();
    mosquitto_disconnect(m_);
    mosquitto_destroy(m_);
    m_ = nullptr;
  }

  Tally &tally() { return tally_; }

 private:
  bool setup() {
    std::string id = "brim_load-" + std::to_string(::getpid()) + "-" + std::to_string(index_);
    m_ = mosquitto_new(id.c_str(), true, this);
    if (m_ == nullptr) return fail("mosquitto_new failed");
    mosquitto_connect_callback_set(m_, [](mosquitto *, void *self, int rc) {
      static_cast<LoadClient *>(self)->connected_ = rc == 0;
    });
    mosquitto_subscribe_callback_set(m_, [](mosquitto *, void *self, int, int, const int *) {
      static_cast<LoadClient *>(self)->subscribed_ = true;
    });
    mosquitto_message_callback_set(m_, [](mosquitto *, void *self, const mosquitto_message *msg) {
      static_cast<LoadClient *>(self)->on_reply(msg);
    });
    double deadline = now_s() + kReadySeconds;
    int rc = MOSQ_ERR_UNKNOWN;
    while (now_s() < deadline && (rc = mosquitto_connect(m_, "127.0.0.1", kBrokerPort, 30)) != MOSQ_ERR_SUCCESS)
      ::usleep(50 * 1000);
    if (rc != MOSQ_ERR_SUCCESS) return fail(std::string("cannot connect: ") + mosquitto_strerror(rc));
    if (!serve_until(deadline, [this] { return connected_; })) return fail("no CONNACK");
    std::string filter = prefix_ + "+/R";
    if (mosquitto_subscribe(m_, nullptr, filter.c_str(), 0) != MOSQ_ERR_SUCCESS ||
        !serve_until(deadline, [this] { return subscribed_; }))
      return fail("cannot subscribe to " + filter);
    // The subscriber may not have subscribed yet right after the boot: probe until it answers.
    std::string topic = prefix_ + "echo";
    while (probe_replies_ == 0 && now_s() < deadline) {
      mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(std::strlen(kProbe)), kProbe, 0, false);
      serve_until(std::min(deadline, now_s() + 0.2), [this] { return probe_replies_ > 0; });
    }
    if (probe_replies_ == 0) return fail("no reply to the probe on " + topic + ": is brim_sub serving?");
    return true;
  }

  template <class Done>
  bool serve_until(double deadline, Done done) {
    while (!done() && now_s() < deadline)
      if (mosquitto_loop(m_, 20, 1) != MOSQ_ERR_SUCCESS) ::usleep(20 * 1000);
    return done();
  }

  bool fail(const std::string &why) {
    tally_.setup_error = "client " + std::to_string(index_) + ": " + why;
    return false;
  }

  void load() {
    const double period = 1.0 / opt_.rate;
    // Clients start a fraction of a period apart, so their requests interleave evenly.
    double next = g_start + period * index_ / opt_.clients;
    const double end = g_start + opt_.seconds;
    long seq = 0;
    while (!g_abort.load()) {
      double now = now_s();
      if (now >= end) break;
      if (now >= next) {
        send(seq++, now);
        // A steady rate with no catching up in bursts: a late send moves the schedule on.
        next += period;
        if (next < now) next = now + period;
        continue;
      }
      int wait_ms = static_cast<int>((next - now) * 1000);
      int rc = mosquitto_loop(m_, std::clamp(wait_ms, 0, 100), 1);
      if (rc != MOSQ_ERR_SUCCESS) {
        // Nothing on loopback should drop us; what was outstanding is counted missing.
        tally_.lost = true;
        note(std::string("connection lost: ") + mosquitto_strerror(rc));
        break;
      }
    }
    // Outstanding replies, bounded.
    serve_until(now_s() + kDrainSeconds, [this] { return outstanding() == 0; });
    for (const auto &p : by_id_) tally_.missing[static_cast<int>(p.second.kind)]++;
    tally_.missing[static_cast<int>(Kind::Status)] += static_cast<long>(status_.size());
    if (outstanding() > 0) note(std::to_string(outstanding()) + " requests unanswered after the drain");
  }

  size_t outstanding() const { return by_id_.size() + status_.size(); }

  void send(long seq, double now) {
    std::string id = std::to_string(index_) + "-" + std::to_string(seq);
    Kind kind = (seq % kCycle == kCycle - 1) ? Kind::SetHostname : (seq % 2 == 0 ? Kind::Echo : Kind::Status);
    std::string topic, body;
    switch (kind) {
      case Kind::Echo:
        topic = prefix_ + "echo";
        body = "{\"id\":\"" + id + "\",\"seq\":" + std::to_string(seq) + "}";
        break;
      case Kind::Status:
        topic = prefix_ + "status";
        body = "{}";
        break;
      case Kind::SetHostname:
        topic = prefix_ + "set_hostname";
        body = "{\"hostname\":\"load-" + std::to_string(index_) + "\",\"reserv\":\"" + id + "\"}";
        break;
    }
    // QoS 0: brim_sub subscribes with QoS 0, so the broker hands requests on at QoS 0 whatever
    // they were published with. On loopback with a broker and a subscriber that keep up, QoS 0
    // loses nothing; any loss counts as a missing reply.
    int rc = mosquitto_publish(m_, nullptr, topic.c_str(), static_cast<int>(body.size()), body.data(), 0, false);
    if (rc != MOSQ_ERR_SUCCESS) {
      note("publish on " + topic + " failed: " + mosquitto_strerror(rc));
      // Still counted as sent and outstanding: it will show up as missing.
    }
    tally_.sent[static_cast<int>(kind)]++;
    if (kind == Kind::Status)
      status_.push_back(now);
    else
      by_id_[id] = Sent{kind, body, now};
  }

  void on_reply(const mosquitto_message *msg) {
    std::string topic = msg->topic ? msg->topic : "";
    std::string text(msg->payload ? static_cast<const char *>(msg->payload) : "",
                     static_cast<size_t>(std::max(msg->payloadlen, 0)));
    if (!tally_.ready) {
      if (topic == prefix_ + "echo/R" && text == kProbe) probe_replies_++;
      return;
    }
    if (text == kProbe) return;  // a late answer to a repeated probe
    tally_.received++;
    double now = now_s();
    cJSON *reply = cJSON_Parse(text.c_str());
    if (topic == prefix_ + "status/R") {
      if (status_.empty()) {
        unexpected("status reply with no request outstanding", text);
      } else {
        double at = status_.front();
        status_.pop_front();
        const char *lan = cJSON_GetStringValue(cJSON_GetObjectItem(reply, "lan_ip"));
        if (cJSON_IsObject(reply) && lan != nullptr && *lan != '\0')
          matched(Kind::Status, at, now);
        else
          malformed("status reply without \"lan_ip\"", text);
      }
    } else if (topic == prefix_ + "echo/R" || topic == prefix_ + "set_hostname/R") {
      bool echo = topic == prefix_ + "echo/R";
      const char *id = cJSON_GetStringValue(cJSON_GetObjectItem(reply, echo ? "id" : "reserv"));
      auto it = id ? by_id_.find(id) : by_id_.end();
      if (!cJSON_IsObject(reply) || id == nullptr) {
        malformed(echo ? "echo reply without an id" : "host name reply without \"reserv\"", text);
        // Its request stays outstanding and is counted missing, unless a proper reply comes.
      } else if (it == by_id_.end()) {
        unexpected(std::string("reply to no outstanding request ") + id, text);
      } else {
        bool ok = echo ? text == it->second.body : cJSON_IsTrue(cJSON_GetObjectItem(reply, "success"));
        if (ok)
          matched(it->second.kind, it->second.at, now);
        else
          malformed(echo ? "echo reply differs from its request" : "host name change failed", text);
        by_id_.erase(it);
      }
    } else {
      unexpected("reply on a topic we never asked on: " + topic, text);
    }
    cJSON_Delete(reply);
  }

  void matched(Kind kind, double at, double now) {
    tally_.matched++;
    tally_.latency_ms[static_cast<int>(kind)].push_back((now - at) * 1000);
  }
  void malformed(const std::string &why, const std::string &text) {
    tally_.malformed++;
    note(why + ": " + text.substr(0, 200));
  }
  void unexpected(const std::string &why, const std::string &text) {
    tally_.unexpected++;
    note(why + ": " + text.substr(0, 200));
  }
  void note(const std::string &what) {
    if (tally_.notes.size() < 5) tally_.notes.push_back("client " + std::to_string(index_) + ": " + what);
  }

  int index_;
  const Options &opt_;
  std::string prefix_;
  mosquitto *m_ = nullptr;
  bool connected_ = false;
  bool subscribed_ = false;
  long probe_replies_ = 0;
  std::map<std::string, Sent> by_id_;  // echo and host name requests awaiting their reply
  std::deque<double> status_;          // send times of status requests awaiting their reply
  Tally tally_;
};

// --- the watched process ---

std::string comm_of(const char *pid) {
  std::string path = std::string("/proc/") + pid + "/comm";
  FILE *f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return "";
  char buf[64] = "";
  if (std::fgets(buf, sizeof buf, f) == nullptr) buf[0] = '\0';
  std::fclose(f);
  std::string s = buf;
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

// The pid given, or the single process of that name; 0 (with a message) otherwise.
pid_t find_watched(const std::string &what) {
  char *end = nullptr;
  long pid = std::strtol(what.c_str(), &end, 10);
  if (!what.empty() && *end == '\0' && pid > 0) return static_cast<pid_t>(pid);
  std::vector<pid_t> found;
  if (DIR *d = opendir("/proc")) {
    while (dirent *e = readdir(d)) {
      long p = std::strtol(e->d_name, &end, 10);
      if (*end == '\0' && p > 0 && comm_of(e->d_name) == what) found.push_back(static_cast<pid_t>(p));
    }
    closedir(d);
  }
  if (found.size() != 1) {
    std::fprintf(stderr, "brim_load: %zu processes named \"%s\"; want exactly one (or give its pid with -p)\n",
                 found.size(), what.c_str());
    return 0;
  }
  return found[0];
}

// VmRSS of `pid` in KiB; -1 when the process is gone.
long rss_kib(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE *f = std::fopen(path, "r");
  if (f == nullptr) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, f) != nullptr)
    if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
  std::fclose(f);
  return kib;
}

double average(const std::vector<long> &v, size_t from, size_t count) {
  double sum = 0;
  for (size_t i = from; i < from + count; ++i) sum += static_cast<double>(v[i]);
  return count ? sum / static_cast<double>(count) : 0;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

void sleep_until(double t) {
  double left = t - now_s();
  if (left <= 0) return;
  timespec ts{static_cast<time_t>(left), static_cast<long>((left - static_cast<double>(static_cast<time_t>(left))) * 1e9)};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void usage() {
  std::fprintf(stderr,
               "usage: brim_load [-c CLIENTS] [-r RATE] [-d SECONDS] [-p PID|NAME] [-v]\n"
               "  -c  MQTT clients, each on its own connection (default 4)\n"
               "  -r  requests per second per client (default 25)\n"
               "  -d  duration of the load in seconds (default 60)\n"
               "  -p  process whose VmRSS is sampled each second (default: the one named brim_sub)\n"
               "  -v  print every RSS sample\n"
               "Exits 0 when every request got its matching reply and the RSS did not grow.\n");
}

bool parse(int argc, char **argv, Options *o) {
  int c;
  while ((c = getopt(argc, argv, "c:r:d:p:vh")) != -1) {
    switch (c) {
      case 'c': o->clients = std::atoi(optarg); break;
      case 'r': o->rate = std::atof(optarg); break;
      case 'd': o->seconds = std::atoi(optarg); break;
      case 'p': o->watch = optarg; break;
      case 'v': o->verbose = true; break;
      default: return false;
    }
  }
  return optind == argc && o->clients >= 1 && o->clients <= 1000 && o->rate > 0 && o->rate <= 10000 &&
         o->seconds >= 1 && !o->watch.empty();
}

}  // namespace

int main(int argc, char **argv) {
  Options opt;
  if (!parse(argc, argv, &opt)) {
    usage();
    return 2;
  }
  pid_t watched = find_watched(opt.watch);
  if (watched == 0) return 2;
  if (rss_kib(watched) < 0) {
    std::fprintf(stderr, "brim_load: no VmRSS for pid %d\n", static_cast<int>(watched));
    return 2;
  }
  std::printf("brim_load: %d clients x %g requests/s for %d s; watching pid %d (%s)\n", opt.clients, opt.rate,
              opt.seconds, static_cast<int>(watched), comm_of(std::to_string(watched).c_str()).c_str());
  std::fflush(stdout);

  mosquitto_lib_init();
  std::vector<std::unique_ptr<LoadClient>> clients;
  std::vector<std::thread> threads;
  for (int i = 0; i < opt.clients; ++i) clients.push_back(std::make_unique<LoadClient>(i, opt));
  for (auto &c : clients) threads.emplace_back([&c] { c->run(); });

  double ready_by = now_s() + kReadySeconds + 5;
  while (g_ready.load() + g_setup_failed.load() < opt.clients && now_s() < ready_by) ::usleep(10 * 1000);
  bool setup_ok = g_ready.load() == opt.clients;
  std::vector<long> rss;
  long rss_max = 0;
  bool gone = false;
  if (setup_ok) {
    g_start = now_s();
    g_go.store(true);
    for (int s = 1; s <= opt.seconds; ++s) {
      sleep_until(g_start + s);
      long kib = rss_kib(watched);
      if (kib < 0) {
        gone = true;
        g_abort.store(true);
        break;
      }
      rss.push_back(kib);
      rss_max = std::max(rss_max, kib);
      if (opt.verbose) std::printf("rss %4d s %ld KiB\n", s, kib);
    }
  } else {
    g_abort.store(true);
  }
  for (auto &t : threads) t.join();
  mosquitto_lib_cleanup();

  std::vector<std::string> failures;
  if (!setup_ok) {
    for (auto &c : clients)
      if (!c->tally().setup_error.empty()) failures.push_back(c->tally().setup_error);
    if (failures.empty()) failures.push_back("clients not ready in time");
    for (const auto &f : failures) std::printf("brim_load: FAIL: %s\n", f.c_str());
    return 1;
  }

  Tally all;
  std::vector<std::string> notes;
  for (auto &c : clients) {
    const Tally &t = c->tally();
    for (int k = 0; k < 3; ++k) {
      all.sent[k] += t.sent[k];
      all.missing[k] += t.missing[k];
    }
    all.received += t.received;
    all.matched += t.matched;
    all.malformed += t.malformed;
    all.unexpected += t.unexpected;
    all.lost = all.lost || t.lost;
    for (int k = 0; k < 3; ++k)
      all.latency_ms[k].insert(all.latency_ms[k].end(), t.latency_ms[k].begin(), t.latency_ms[k].end());
    notes.insert(notes.end(), t.notes.begin(), t.notes.end());
  }
  long sent = all.sent[0] + all.sent[1] + all.sent[2];
  long missing = all.missing[0] + all.missing[1] + all.missing[2];
  std::printf("requests sent:    %ld (echo %ld, status %ld, set_hostname %ld)\n", sent, all.sent[0], all.sent[1],
              all.sent[2]);
  std::printf("replies:          %ld received, %ld matched, %ld malformed, %ld unexpected\n", all.received,
              all.matched, all.malformed, all.unexpected);
  std::printf("missing replies:  %ld (echo %ld, status %ld, set_hostname %ld)\n", missing, all.missing[0],
              all.missing[1], all.missing[2]);
  // For information only: they depend on the machine and on what else runs on it.
  std::vector<double> every;
  for (const auto &v : all.latency_ms) every.insert(every.end(), v.begin(), v.end());
  std::printf("latency (ms):     p50 %.3f, p99 %.3f, max %.3f\n", percentile(every, 0.5), percentile(every, 0.99),
              percentile(every, 1.0));
  const char *const kinds[3] = {"echo", "status", "set_hostname"};
  for (int k = 0; k < 3; ++k)
    std::printf("  %-14s  p50 %.3f, p99 %.3f, max %.3f\n", kinds[k], percentile(all.latency_ms[k], 0.5),
                percentile(all.latency_ms[k], 0.99), percentile(all.latency_ms[k], 1.0));

  // Windows of 10% of the run, at least 5 samples (overlapping on runs shorter than 10 s).
  size_t n = rss.size();
  size_t w = std::min(n, std::max<size_t>(5, n / 10));
  double first = average(rss, 0, w), last = average(rss, n - w, w);
  std::printf("VmRSS (KiB):      first %zu s avg %.1f, last %zu s avg %.1f, max %ld, %zu samples\n", w, first, w,
              last, rss_max, n);
  for (const auto &s : notes) std::printf("  %s\n", s.c_str());

  if (all.lost) failures.push_back("a client lost its connection to the broker");
  if (gone) failures.push_back("the watched process went away during the run");
  if (missing > 0) failures.push_back(std::to_string(missing) + " requests got no reply");
  if (all.malformed > 0) failures.push_back(std::to_string(all.malformed) + " replies were not what their request asked for");
  if (all.unexpected > 0) failures.push_back(std::to_string(all.unexpected) + " replies matched no request");
  if (all.matched != sent && failures.empty())
    failures.push_back(std::to_string(sent - all.matched) + " requests without a matching reply");
  if (n == 0) failures.push_back("no RSS samples");
  if (last > first + static_cast<double>(kRssToleranceKiB)) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "VmRSS grew from %.1f to %.1f KiB (more than %ld KiB): a leak under load?", first, last,
                  kRssToleranceKiB);
    failures.push_back(buf);
  }
  for (const auto &f : failures) std::printf("brim_load: FAIL: %s\n", f.c_str());
  if (failures.empty()) std::printf("brim_load: PASS\n");
  return failures.empty() ? 0 : 1;
}
