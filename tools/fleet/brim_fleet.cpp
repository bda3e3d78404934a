// brim-fleet: the operator's tool. Sends one management request to every device of a fleet (or to
// a list) through the cloud broker, collects each device's reply with a timeout of its own, and
// prints a table and a summary. Requests go to <prefix>/<device>/<hook>; a device answers on the
// same topic + "/R" (its router's broker bridges both). The options are the mosquitto clients'
// where they share a meaning; they are listed in kUsage, which is also the manual page.
#include <mosquitto.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Device {
  std::string id;
  std::string request_topic, reply_topic;
  double sent = 0;       // when this round's request went out; 0: none outstanding
  double latency = -1;   // this round's answer, ms; -1: none
  std::string reply;
  int extra = 0;         // answers beyond the first, or after the deadline, all rounds
  int answered = 0;      // rounds answered in time
};

struct Options {
  std::vector<std::string> hosts;
  int port = 0;  // 0: 1883, or 8883 with TLS
  std::vector<std::string> devices;
  std::string hook, body = "{}", prefix = "fleet";
  std::string cafile, cert, key, user, password, client_id;
  double timeout_ms = 5000;
  int rounds = 1, interval_ms = 0;
  bool quiet = false;
};

struct Run {
  Options opt;
  std::vector<Device> devices;
  std::vector<double> latencies;  // every answer in time, all rounds
  bool connected = false;
  int refused = -1;      // the broker's CONNACK code when it refused us; -1: none
  std::string last_error;  // the library's last error message (TLS failures among them)
  int unknown = 0;       // replies for no device of ours
};

constexpr const char kUsage[] =
    "Usage: brim-fleet [OPTION]... (-d ID[,ID...] | -f FILE)... HOOK [JSON]\n"
    "Sends one management request (JSON, default {}) to every device named, on PREFIX/ID/HOOK\n"
    "through the cloud broker, waits for each reply on PREFIX/ID/HOOK/R, and prints a table and\n"
    "a summary: answered X/Y, p50, p99, wall.\n"
    "\n"
    "Options:\n"
    "  -h HOST[:PORT]   broker; repeat for a cluster, tried in turn (default 127.0.0.1)\n"
    "  -p PORT          port of the brokers named without one (default 1883, 8883 with --cafile)\n"
    "  -d ID[,ID...]    devices to ask (repeatable)\n"
    "  -f FILE          devices, one id a line, '#' comments: a fleet's inventory\n"
    "  -t SECONDS       time each device has to answer (default 5)\n"
    "  -r ROUNDS        ask that many times, one round after the other (default 1)\n"
    "  --interval MS    pause between rounds (default 0)\n"
    "  --prefix PREFIX  first topic level (default fleet)\n"
    "  --cafile FILE    TLS, trusting the CA in FILE\n"
    "  --cert FILE      client certificate (with --key)\n"
    "  --key FILE       client key\n"
    "  -u USER          user name\n"
    "  -P PASSWORD      password\n"
    "  -i CLIENTID      client id; a cluster may let a user use only its own (default brim-fleet-PID)\n"
    "  -q               summary only, no table\n"
    "  --help           this text\n"
    "\n"
    "Exit status: 0 every request answered once; 1 some unanswered or answered twice; 2 bad usage, or\n"
    "no broker took the connection (each refusal and TLS failure is named on standard error).\n";

int usage(FILE *to = stderr) {
  std::fputs(kUsage, to);
  return to == stderr ? 2 : 0;
}

void add_list(std::vector<std::string> &out, const char *list) {
  std::string s(list);
  size_t start = 0;
  while (start <= s.size()) {
    size_t comma = s.find(',', start);
    std::string id = s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!id.empty()) out.push_back(id);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

bool add_file(std::vector<std::string> &out, const char *path) {
  FILE *f = std::fopen(path, "r");
  if (!f) return false;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    std::string id(line);
    size_t hash = id.find('#');
    if (hash != std::string::npos) id.erase(hash);
    id.erase(0, id.find_first_not_of(" \t\r\n"));
    id.erase(id.find_last_not_of(" \t\r\n") + 1);
    if (!id.empty()) out.push_back(id);
  }
  std::fclose(f);
  return true;
}

// A device id or hook becomes one topic level: no separators, no wildcards.
bool is_level(const std::string &s) {
  return !s.empty() && s.find_first_of("/+#") == std::string::npos && s.size() < 128;
}

void on_connect(struct mosquitto *m, void *obj, int rc) {
  auto *run = static_cast<Run *>(obj);
  if (rc != 0) {
    run->refused = rc;
    return;
  }
  run->connected = true;
  std::string filter = run->opt.prefix + "/+/" + run->opt.hook + "/R";
  mosquitto_subscribe(m, nullptr, filter.c_str(), 0);
}

void on_disconnect(struct mosquitto *, void *obj, int) { static_cast<Run *>(obj)->connected = false; }

void on_message(struct mosquitto *, void *obj, const struct mosquitto_message *msg) {
  auto *run = static_cast<Run *>(obj);
  double t = now_ms();
  for (Device &d : run->devices) {
    if (d.reply_topic != msg->topic) continue;
    if (d.sent > 0 && d.latency < 0 && t - d.sent <= run->opt.timeout_ms) {
      d.latency = t - d.sent;
      d.reply.assign(static_cast<const char *>(msg->payload), static_cast<size_t>(std::max(msg->payloadlen, 0)));
      ++d.answered;
      run->latencies.push_back(d.latency);
    } else {
      ++d.extra;  // a second answer, or one past its deadline
    }
    return;
  }
  ++run->unknown;
}

// The library's error lines (an OpenSSL failure among them) say more than its error codes.
void on_log(struct mosquitto *, void *obj, int level, const char *text) {
  if (level == MOSQ_LOG_ERR && text != nullptr) static_cast<Run *>(obj)->last_error = text;
}

// Why a connection attempt failed, in the library's words: the broker's refusal, the TLS
// library's last error, or the system's.
std::string failure(Run &run, int rc) {
  if (run.refused >= 0) return std::string("refused: ") + mosquitto_connack_string(run.refused);
  std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
  if (!run.last_error.empty()) why += " (" + run.last_error + ")";
  return why;
}

// Connects to the first host that answers, serving the connection until the subscription is made.
// `say`: name each host that failed, and why, on stderr.
bool connect_any(struct mosquitto *m, Run &run, bool say) {
  for (const std::string &h : run.opt.hosts) {
    std::string host = h;
    int port = run.opt.port ? run.opt.port : run.opt.cafile.empty() ? 1883 : 8883;
    size_t colon = h.rfind(':');
    if (colon != std::string::npos) {
      host = h.substr(0, colon);
      port = std::atoi(h.c_str() + colon + 1);
    }
    run.refused = -1;
    run.last_error.clear();
    errno = 0;
    int rc = mosquitto_connect(m, host.c_str(), port, 30);
    for (int i = 0; rc == MOSQ_ERR_SUCCESS && i < 50 && !run.connected && run.refused < 0; ++i)
      rc = mosquitto_loop(m, 100, 1);
    if (run.connected) {
      for (int i = 0; i < 3; ++i) mosquitto_loop(m, 10, 1);  // the SUBACK
      return true;
    }
    if (say) {
      std::string why = rc == MOSQ_ERR_SUCCESS && run.refused < 0 ? "no answer in 5 s" : failure(run, rc);
      std::fprintf(stderr, "brim-fleet: %s:%d: %s\n", host.c_str(), port, why.c_str());
    }
    mosquitto_disconnect(m);
  }
  return false;
}

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// Progress on stderr: one line, redrawn on a terminal, else once a second.
void progress(const Run &run, int round, size_t answered, double started, bool tty) {
  static double last = 0;
  double t = now_ms();
  if (!tty && t - last < 1000) return;
  last = t;
  std::fprintf(stderr, "%sround %d/%d: %zu/%zu answered, %.1f s%s", tty ? "\r" : "", round, run.opt.rounds, answered,
               run.devices.size(), (t - started) / 1e3, tty ? "   " : "\n");
}

}  // namespace

int main(int argc, char **argv) {
  Run run;
  Options &o = run.opt;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char *what) -> const char * {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "brim-fleet: %s needs a value\n", what);
        std::exit(usage());
      }
      return argv[++i];
    };
    if (a == "--help") return usage(stdout);
    if (a == "-h") o.hosts.push_back(value("-h"));
    else if (a == "-p") o.port = std::atoi(value("-p"));
    else if (a == "-d") add_list(o.devices, value("-d"));
    else if (a == "-f") {
      const char *f = value("-f");
      if (!add_file(o.devices, f)) {
        std::fprintf(stderr, "brim-fleet: cannot read %s: %s\n", f, std::strerror(errno));
        return 2;
      }
    } else if (a == "-t") o.timeout_ms = std::atof(value("-t")) * 1000;
    else if (a == "-r") o.rounds = std::atoi(value("-r"));
    else if (a == "--interval") o.interval_ms = std::atoi(value("--interval"));
    else if (a == "--prefix") o.prefix = value("--prefix");
    else if (a == "--cafile") o.cafile = value("--cafile");
    else if (a == "--cert") o.cert = value("--cert");
    else if (a == "--key") o.key = value("--key");
    else if (a == "-u") o.user = value("-u");
    else if (a == "-P") o.password = value("-P");
    else if (a == "-i") o.client_id = value("-i");
    else if (a == "-q") o.quiet = true;
    else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "brim-fleet: unknown option %s\n", a.c_str());
      return usage();
    }
    else args.push_back(a);
  }
  if (args.empty() || args.size() > 2 || o.devices.empty() || o.rounds < 1 || o.timeout_ms <= 0 || o.port < 0 ||
      o.port > 65535)
    return usage();
  o.hook = args[0];
  if (args.size() == 2) o.body = args[1];
  if (o.hosts.empty()) o.hosts.push_back("127.0.0.1");
  if (!is_level(o.hook)) {
    std::fprintf(stderr, "brim-fleet: bad hook name: %s\n", o.hook.c_str());
    return 2;
  }
  for (const std::string &id : o.devices) {
    if (!is_level(id)) {
      std::fprintf(stderr, "brim-fleet: bad device id: %s\n", id.c_str());
      return 2;
    }
    Device d;
    d.id = id;
    d.request_topic = o.prefix + "/" + id + "/" + o.hook;
    d.reply_topic = d.request_topic + "/R";
    run.devices.push_back(d);
  }

  mosquitto_lib_init();
  char client_id[48];
  std::snprintf(client_id, sizeof client_id, "brim-fleet-%d", static_cast<int>(getpid()));
  struct mosquitto *m = mosquitto_new(o.client_id.empty() ? client_id : o.client_id.c_str(), true, &run);
  if (!m) return 2;
  mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
  if (!o.cafile.empty()) {
    int rc = mosquitto_tls_set(m, o.cafile.c_str(), nullptr, o.cert.empty() ? nullptr : o.cert.c_str(),
                               o.key.empty() ? nullptr : o.key.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      for (const std::string *f : {&o.cafile, &o.cert, &o.key})
        if (!f->empty() && access(f->c_str(), R_OK) != 0) {
          std::fprintf(stderr, "brim-fleet: cannot read %s: %s\n", f->c_str(), std::strerror(errno));
          return 2;
        }
      std::fprintf(stderr, "brim-fleet: cannot use the TLS files given: %s\n", mosquitto_strerror(rc));
      return 2;
    }
  }
  if (!o.user.empty()) mosquitto_username_pw_set(m, o.user.c_str(), o.password.empty() ? nullptr : o.password.c_str());
  mosquitto_connect_callback_set(m, on_connect);
  mosquitto_disconnect_callback_set(m, on_disconnect);
  mosquitto_message_callback_set(m, on_message);
  mosquitto_log_callback_set(m, on_log);
  if (!connect_any(m, run, true)) {
    std::fputs("brim-fleet: no broker took the connection\n", stderr);
    return 2;
  }

  bool tty = isatty(STDERR_FILENO);
  double wall_start = now_ms();
  size_t missing = 0;
  for (int round = 1; round <= o.rounds; ++round) {
    if (round > 1 && o.interval_ms > 0) {
      double until = now_ms() + o.interval_ms;
      while (now_ms() < until) mosquitto_loop(m, 10, 1);
    }
    if (!run.connected && !connect_any(m, run, false)) std::fputs("brim-fleet: broker lost; this round goes unanswered\n", stderr);
    double started = now_ms();
    for (Device &d : run.devices) {
      d.latency = -1;
      d.reply.clear();
      d.sent = now_ms();
      if (run.connected)
        mosquitto_publish(m, nullptr, d.request_topic.c_str(), static_cast<int>(o.body.size()), o.body.data(), 0, false);
    }
    // Serve until every device answered or its time ran out.
    for (;;) {
      size_t answered = 0, waiting = 0;
      double t = now_ms();
      for (const Device &d : run.devices) {
        if (d.latency >= 0) ++answered;
        else if (t - d.sent <= o.timeout_ms) ++waiting;
      }
      progress(run, round, answered, started, tty);
      if (waiting == 0) break;
      if (mosquitto_loop(m, 20, 1) != MOSQ_ERR_SUCCESS) {
        run.connected = false;
        if (!connect_any(m, run, false)) usleep(20 * 1000);
      }
    }
    // A short grace to see answers that come twice.
    for (double until = now_ms() + 50; now_ms() < until;) mosquitto_loop(m, 10, 1);
    if (tty) std::fputs("\n", stderr);
    for (Device &d : run.devices) {
      if (d.latency < 0) ++missing;
      d.sent = 0;
    }
    if (!o.quiet && o.rounds == 1) {
      std::printf("%-24s %-8s %10s  %s\n", "device", "answered", "latency_ms", "reply");
      for (const Device &d : run.devices) {
        std::string r = d.reply;
        std::replace(r.begin(), r.end(), '\n', ' ');
        std::replace(r.begin(), r.end(), '\t', ' ');
        if (d.latency >= 0) std::printf("%-24s %-8s %10.2f  %s\n", d.id.c_str(), "yes", d.latency, r.c_str());
        else std::printf("%-24s %-8s %10s  %s\n", d.id.c_str(), "no", "-", "");
      }
    }
  }
  double wall = (now_ms() - wall_start) / 1e3;
  if (!o.quiet && o.rounds > 1) {
    std::printf("%-24s %8s %8s\n", "device", "answered", "twice");
    for (const Device &d : run.devices) std::printf("%-24s %4d/%-3d %8d\n", d.id.c_str(), d.answered, o.rounds, d.extra);
  }
  int extra = run.unknown;
  for (const Device &d : run.devices) extra += d.extra;
  size_t total = run.devices.size() * static_cast<size_t>(o.rounds);
  std::printf("summary: answered %zu/%zu, p50 %.2f ms, p99 %.2f ms, wall %.2f s, answered twice or late %d\n",
              total - missing, total, percentile(run.latencies, 0.50), percentile(run.latencies, 0.99), wall, extra);
  mosquitto_disconnect(m);
  mosquitto_destroy(m);
  mosquitto_lib_cleanup();
  return (missing == 0 && extra == 0) ? 0 : 1;
}
