// Replies through the real broker against what each must do at least: publish payloads of the same
// size and, for the one that carries the LAN address, ask the kernel for br0's address (one
// SIOCGIFADDR); and the WAN address query against one raw SIOCGIFADDR (inside the simulated router
// only).
#include <arpa/inet.h>
#include <cjson/cJSON.h>
#include <mosquitto.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench.h"
#include "brimlib.h"

namespace {

bool accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

pid_t start_broker(int port, const std::string &dir) {
  std::string conf = dir + "/mosquitto.conf";
  FILE *f = std::fopen(conf.c_str(), "w");
  if (!f) return -1;
  std::fprintf(f, "listener %d 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest none\n", port);
  std::fclose(f);
  pid_t pid = fork();
  if (pid == 0) {
    execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  for (int i = 0; i < 100 && !accepts(port); ++i) usleep(20000);
  return pid;
}

void replies(int port) {
  char dir[] = "/tmp/brim_bench_XXXXXX";
  if (!mkdtemp(dir)) return;
  setenv("APMIB_STORE", (std::string(dir) + "/apmib.store").c_str(), 1);
  FILE *s = std::fopen(getenv("APMIB_STORE"), "w");
  std::fputs("OP_MODE = 0\nIP_ADDR = 192.168.0.1\n", s);
  std::fclose(s);
  apmib_init();
  pid_t broker = start_broker(port, dir);
  mosquitto_lib_init();
  mosquitto *m = mosquitto_new(nullptr, true, nullptr);
  if (broker < 0 || !m || mosquitto_connect(m, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) {
    std::fprintf(stderr, "messages_bench: no broker\n");
    return;
  }
  // No loop thread: each publish is written to the socket by the caller, so both sides pay for
  // their own writes (with a thread, a publish only queues, and the thread's backlog from one side
  // slows whichever side runs next).
  const char *topic = "bench/dev/status";
  // The anchor publishes the very texts the two replies print, on the same reply topic.
  cJSON *err = cJSON_CreateObject();
  cJSON_AddItemToObject(err, "success", cJSON_CreateFalse());
  cJSON_AddItemToObject(err, "error", cJSON_CreateString("bad request"));
  cJSON *ok = cJSON_CreateObject();
  cJSON_AddItemToObject(ok, "success", cJSON_CreateTrue());
  cJSON_AddItemToObject(ok, "error", cJSON_CreateNull());
  cJSON_AddItemToObject(ok, "lan_ip", cJSON_CreateString("192.168.0.1"));
  cJSON_AddItemToObject(ok, "wtime", cJSON_CreateString("5"));
  cJSON_AddItemToObject(ok, "reserv", cJSON_CreateString(""));
  char *err_text = cJSON_Print(err), *ok_text = cJSON_Print(ok);
  auto replies = [&] {
    websErrorResponse(m, topic, "bad request");
    websSetCfgResponse(m, topic, "5", "");
  };
  auto publish = [&](const char *text) {
    mosquitto_publish(m, nullptr, "bench/dev/status/R", static_cast<int>(std::strlen(text)), text, 0, false);
  };
  auto [ours, anchor] = bench::side_by_side(9, 200, replies, [&] {
    publish(err_text);
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "br0", IFNAMSIZ - 1);
    ioctl(fd, SIOCGIFADDR, &ifr);
    close(fd);
    publish(ok_text);
  });
  auto [ours2, bare] = bench::side_by_side(9, 200, replies, [&] {
    publish(err_text);
    publish(ok_text);
  });
  // Rates: replies per second; the goal is on ours over the anchor's.
  bench::report("reply pairs/s: replies / publish + SIOCGIFADDR", 1e9 / ours, 1e9 / anchor, "1/s", ">= 0.8");
  bench::report("  the same / bare mosquitto_publish", 1e9 / ours2, 1e9 / bare, "1/s", "(information)");
  cJSON_free(err_text);
  cJSON_free(ok_text);
  cJSON_Delete(err);
  cJSON_Delete(ok);
  for (int i = 0; i < 10; ++i) mosquitto_loop(m, 10, 1);  // what a full socket left queued
  mosquitto_disconnect(m);
  mosquitto_destroy(m);
  kill(broker, SIGTERM);
  waitpid(broker, nullptr, 0);
  std::system((std::string("rm -rf ") + dir).c_str());
}

// Needs eth1 with an address as the WAN interface: only the simulated router has one.
void wan_ip() {
  const char *in = getenv("BRIM_SANDBOX");
  if (!in || std::strcmp(in, "1") != 0) return;
  if (BrimSystem("ip addr replace 10.77.0.2/24 dev eth1", 0) != 0) return;
  char dir[] = "/tmp/brim_bench_XXXXXX";
  if (!mkdtemp(dir)) return;
  std::string store = std::string(dir) + "/apmib.store";
  setenv("APMIB_STORE", store.c_str(), 1);
  FILE *s = std::fopen(store.c_str(), "w");
  std::fputs("OP_MODE = 0\nWAN_DHCP = 1\nWISP_WAN_ID = 0\n", s);
  std::fclose(s);
  apmib_init();
  auto [ours, anchor] = bench::side_by_side(
      15, 2000, [] { (void)getWanIp(); },
      [] {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq ifr{};
        std::strncpy(ifr.ifr_name, "eth1", IFNAMSIZ - 1);
        ioctl(fd, SIOCGIFADDR, &ifr);
        close(fd);
      });
  bench::report("getWanIp latency / raw SIOCGIFADDR", ours / 1000, anchor / 1000, "us", "<= 1.5");
  BrimSystem("ip addr del 10.77.0.2/24 dev eth1", 0);
  std::system((std::string("rm -rf ") + dir).c_str());
}

}  // namespace

int main() {
  const char *in = getenv("BRIM_SANDBOX");
  if (in && std::strcmp(in, "1") == 0) {
    wan_ip();
  } else {
    replies(18000 + getpid() % 2000);
  }
  return 0;
}
