/* brim-rr: sends requests on one topic and matches the replies on topic + "/R", MQTT 3.1.1.
 * The options and what they do: usage() below, which is also the manual page.
 *
 * Each request's body is {"seq":N}; the responder sends it back. Without -r, one request at a
 * time: the next goes when the reply came or after -w milliseconds (default 2000). With -r, RATE
 * requests a second whatever the replies do, for as long as COUNT lasts (for fault runs). Lost
 * connections are reconnected, to the next HOST in turn.
 *
 * Prints one line: LABEL sent= answered= lost= dup= p50= p99= max= (milliseconds) gap= (the
 * longest time between the sending of two answered requests, when requests went unanswered in
 * between). --log FILE gets one line per request: seq, send time (CLOCK_REALTIME, s), replies,
 * round trip of the first reply (ms, -1 when none).
 * --respond stands in for the router's subscriber: every message on FILTER (topic T) is published
 * back unchanged on T/R, for SECONDS (default 3600), with no process started per request.
 * Exit status: 0 when every request was answered exactly once, 1 otherwise, 2 for bad usage or
 * when no connection could be made. */
#include <mosquitto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kMaxHosts = 4 };

struct request {
  double sent_mono; /* s */
  double sent_real; /* s */
  double rtt_ms;    /* of the first reply; -1 while none */
  int replies;
};

static struct {
  const char *hosts[kMaxHosts];
  int nhosts, host, port;
  const char *client_id, *user, *password, *topic, *cafile, *cert, *key, *log, *label;
  int count;
  double rate, wait_ms;
  char reply_topic[512];
  struct request *reqs;
  int connected, subscribed, respond;
} g = {.port = 1883, .count = -1, .wait_ms = 2000, .label = "rr"};

static double now(clockid_t c) {
  struct timespec ts;
  clock_gettime(c, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void on_connect(struct mosquitto *m, void *obj, int rc) {
  (void)obj;
  if (rc != 0) return;
  g.connected = 1;
  mosquitto_subscribe(m, NULL, g.reply_topic, 0);
}

static void on_disconnect(struct mosquitto *m, void *obj, int rc) {
  (void)m, (void)obj, (void)rc;
  g.connected = 0;
  g.subscribed = 0;
}

static void on_subscribe(struct mosquitto *m, void *obj, int mid, int n, const int *granted) {
  (void)m, (void)obj, (void)mid;
  /* 0x80 is the broker's refusal. */
  g.subscribed = n > 0 && granted[0] != 0x80;
}

static void on_message(struct mosquitto *m, void *obj, const struct mosquitto_message *msg) {
  (void)obj;
  int seq;
  if (g.respond) {
    char topic[512];
    size_t n = strlen(msg->topic);
    if (n < 2 || strcmp(msg->topic + n - 2, "/R") == 0) return; /* never answer a reply */
    snprintf(topic, sizeof topic, "%s/R", msg->topic);
    mosquitto_publish(m, NULL, topic, msg->payloadlen, msg->payload, 0, false);
    return;
  }
  char body[64] = "";
  if (strcmp(msg->topic, g.reply_topic) != 0 || msg->payloadlen <= 0) return;
  memcpy(body, msg->payload, msg->payloadlen < 63 ? (size_t)msg->payloadlen : 63);
  if (sscanf(body, "{\"seq\":%d}", &seq) != 1 || seq < 0 || seq >= g.count) return;
  struct request *r = &g.reqs[seq];
  if (r->sent_mono == 0) return;
  if (r->replies++ == 0) r->rtt_ms = (now(CLOCK_MONOTONIC) - r->sent_mono) * 1e3;
}

static int cmp_double(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

static void usage(FILE *to) {
  fputs("Usage: brim-rr [OPTION]... -h HOST -t TOPIC\n"
        "  or:  brim-rr --respond [OPTION]... -h HOST -t FILTER\n"
        "Sends requests {\"seq\":N} on TOPIC and matches each reply on TOPIC/R to its request (MQTT 3.1.1);\n"
        "prints one line: LABEL sent= answered= lost= dup= p50= p99= max= (ms) gap= (ms).\n"
        "\n"
        "Options:\n"
        "  -h HOST          broker; up to 4, a lost connection moves to the next\n"
        "  -p PORT          broker port (default 1883)\n"
        "  -i CLIENTID      client id (default: the library's)\n"
        "  -u USER          user name for a broker that asks (with -P)\n"
        "  -P PASSWORD      its password\n"
        "  -t TOPIC         request topic; with --respond, the filter answered\n"
        "  -n COUNT         requests to send (default 100); with --respond, seconds to serve (default 3600)\n"
        "  -r RATE          RATE requests a second whatever the replies do (default: one at a time)\n"
        "  -w MS            one at a time: how long a request waits for its reply (default 2000)\n"
        "  --cafile FILE    TLS, trusting the CA in FILE\n"
        "  --cert FILE      client certificate (with --key)\n"
        "  --key FILE       client key\n"
        "  --log FILE       one line per request: seq, send time (s), replies, round trip (ms, -1: none)\n"
        "  --label TEXT     first word of the result line (default rr)\n"
        "  --respond        answer instead: every message on FILTER (topic T) is sent back on T/R\n"
        "  --help           this text\n"
        "\n"
        "Exit status: 0 every request answered exactly once, 1 otherwise, 2 bad usage or no connection.\n",
        to);
  exit(to == stdout ? 0 : 2);
}

static int connect_next(struct mosquitto *m, int first) {
  for (int tries = 0; tries < g.nhosts; tries++) {
    if (!first || tries > 0) g.host = (g.host + 1) % g.nhosts;
    if (mosquitto_connect(m, g.hosts[g.host], g.port, 20) == MOSQ_ERR_SUCCESS) return 0;
  }
  return -1;
}

/* Runs the client's loop until the subscription is in place or the deadline passes. */
static int settle(struct mosquitto *m, double deadline) {
  while (!(g.connected && g.subscribed)) {
    if (now(CLOCK_MONOTONIC) > deadline) return -1;
    if (mosquitto_loop(m, 50, 1) != MOSQ_ERR_SUCCESS) {
      usleep(200000);
      connect_next(m, 0);
    }
  }
  return 0;
}

int main(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
    if (!strcmp(a, "--help")) usage(stdout);
    if (!v && strcmp(a, "--respond") != 0) usage(stderr);
    if (!strcmp(a, "-h") && g.nhosts < kMaxHosts) g.hosts[g.nhosts++] = v;
    else if (!strcmp(a, "-p")) g.port = atoi(v);
    else if (!strcmp(a, "-i")) g.client_id = v;
    else if (!strcmp(a, "-u")) g.user = v;
    else if (!strcmp(a, "-P")) g.password = v;
    else if (!strcmp(a, "-t")) g.topic = v;
    else if (!strcmp(a, "-n")) g.count = atoi(v);
    else if (!strcmp(a, "-r")) g.rate = atof(v);
    else if (!strcmp(a, "-w")) g.wait_ms = atof(v);
    else if (!strcmp(a, "--cafile")) g.cafile = v;
    else if (!strcmp(a, "--cert")) g.cert = v;
    else if (!strcmp(a, "--key")) g.key = v;
    else if (!strcmp(a, "--log")) g.log = v;
    else if (!strcmp(a, "--label")) g.label = v;
    else if (!strcmp(a, "--respond")) { g.respond = 1; continue; }
    else usage(stderr);
    i++;
  }
  if (g.count < 0) g.count = g.respond ? 3600 : 100;
  if (!g.nhosts || !g.topic || g.count <= 0) usage(stderr);
  snprintf(g.reply_topic, sizeof g.reply_topic, "%s", g.topic);
  if (!g.respond) snprintf(g.reply_topic, sizeof g.reply_topic, "%s/R", g.topic);
  g.reqs = calloc((size_t)g.count, sizeof *g.reqs);

  mosquitto_lib_init();
  struct mosquitto *m = mosquitto_new(g.client_id, true, NULL);
  if (!m || !g.reqs) return 2;
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
  if (g.cafile && mosquitto_tls_set(m, g.cafile, NULL, g.cert, g.key, NULL) != MOSQ_ERR_SUCCESS) {
    fprintf(stderr, "brim-rr: cannot use the TLS files\n");
    return 2;
  }
  if (g.user && mosquitto_username_pw_set(m, g.user, g.password) != MOSQ_ERR_SUCCESS) return 2;
  mosquitto_connect_callback_set(m, on_connect);
  mosquitto_disconnect_callback_set(m, on_disconnect);
  mosquitto_subscribe_callback_set(m, on_subscribe);
  mosquitto_message_callback_set(m, on_message);
  if (connect_next(m, 1) != 0 || settle(m, now(CLOCK_MONOTONIC) + 20) != 0) {
    fprintf(stderr, "brim-rr: %s: no connection or no subscription to %s\n", g.label, g.reply_topic);
    return 2;
  }

  if (g.respond) {
    double until = now(CLOCK_MONOTONIC) + g.count; /* -n is the lifetime here */
    while (now(CLOCK_MONOTONIC) < until) {
      if (mosquitto_loop(m, 100, 1) != MOSQ_ERR_SUCCESS) {
        usleep(200000);
        connect_next(m, 0);
      }
    }
    return 0;
  }

  char body[64];
  int next = 0;
  double t_next = now(CLOCK_MONOTONIC), wait_s = g.wait_ms / 1e3;
  double end = 0;
  while (1) {
    double t = now(CLOCK_MONOTONIC);
    int ready;
    if (g.rate > 0) {
      ready = next < g.count && t >= t_next;
    } else {
      /* One at a time: the last one is answered or has waited long enough. */
      ready = next < g.count &&
              (next == 0 || g.reqs[next - 1].replies > 0 || t - g.reqs[next - 1].sent_mono >= wait_s);
    }
    if (ready && g.connected) {
      int len = snprintf(body, sizeof body, "{\"seq\":%d}", next);
      g.reqs[next].sent_mono = t;
      g.reqs[next].sent_real = now(CLOCK_REALTIME);
      g.reqs[next].rtt_ms = -1;
      mosquitto_publish(m, NULL, g.topic, len, body, 0, false);
      next++;
      t_next += g.rate > 0 ? 1.0 / g.rate : 0;
      if (next == g.count) end = t + wait_s;
    } else if (ready && g.rate > 0) {
      /* No connection: the request is not sent, and counts as lost. */
      g.reqs[next].sent_mono = t;
      g.reqs[next].sent_real = now(CLOCK_REALTIME);
      g.reqs[next].rtt_ms = -1;
      next++;
      t_next += 1.0 / g.rate;
      if (next == g.count) end = t + wait_s;
    }
    if (next == g.count && t >= end) break;
    /* Stop early once everything is answered. */
    if (next == g.count && g.reqs[g.count - 1].replies > 0 && g.rate <= 0) {
      mosquitto_loop(m, 20, 1); /* a duplicate would come now */
      break;
    }
    if (mosquitto_loop(m, 1, 1) != MOSQ_ERR_SUCCESS) {
      g.connected = 0;
      usleep(100000);
      connect_next(m, 0);
    }
  }

  int answered = 0, dup = 0;
  double *rtts = calloc((size_t)g.count, sizeof *rtts), gap = 0, last_ok = -1;
  FILE *log = g.log ? fopen(g.log, "w") : NULL;
  for (int i = 0; i < g.count; i++) {
    struct request *r = &g.reqs[i];
    if (r->replies > 0) {
      rtts[answered++] = r->rtt_ms;
      if (last_ok >= 0 && i > 0 && g.reqs[i - 1].replies == 0 && r->sent_mono - last_ok > gap)
        gap = r->sent_mono - last_ok;
      last_ok = r->sent_mono;
    }
    if (r->replies > 1) dup++;
    if (log) fprintf(log, "%d %.3f %d %.3f\n", i, r->sent_real, r->replies, r->rtt_ms);
  }
  if (log) fclose(log);
  qsort(rtts, (size_t)answered, sizeof *rtts, cmp_double);
  double p50 = answered ? rtts[(answered - 1) / 2] : -1;
  double p99 = answered ? rtts[(int)((answered - 1) * 0.99)] : -1;
  double max = answered ? rtts[answered - 1] : -1;
  printf("%s sent=%d answered=%d lost=%d dup=%d p50=%.2f p99=%.2f max=%.2f gap=%.0f\n", g.label,
         g.count, answered, g.count - answered, dup, p50, p99, max, gap * 1e3);
  mosquitto_disconnect(m);
  mosquitto_destroy(m);
  mosquitto_lib_cleanup();
  return answered == g.count && dup == 0 ? 0 : 1;
}
