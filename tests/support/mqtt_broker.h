// A real mosquitto broker on a free loopback port, and a libmosquitto client that records what it
// receives. Every wait is bounded: a broker that never answers fails the test, never hangs it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace brim_test {

// Connects to (port 0: binds) ip:port; returns the port bound, or whether the connection worked.
inline int loopback_socket(int port, const char *ip = "127.0.0.1") {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip, &a.sin_addr);
  socklen_t len = sizeof a;
  auto *sa = reinterpret_cast<sockaddr *>(&a);
  int r = fd < 0 ? -1
          : port == 0 ? (bind(fd, sa, sizeof a) == 0 && getsockname(fd, sa, &len) == 0 ? ntohs(a.sin_port) : -1)
                      : connect(fd, sa, sizeof a) == 0;
  if (fd >= 0) close(fd);
  return r;
}
inline int free_loopback_port() { return loopback_socket(0); }
inline bool accepts_connections(int port, const char *ip = "127.0.0.1") { return loopback_socket(port, ip) == 1; }

class Broker {
 public:
  ~Broker() { stop(); }
  // Starts /usr/sbin/mosquitto, waits until it accepts, and sets BRIM_MQTT_PORT.
  [[nodiscard]] bool start() {
    char tmpl[] = "/tmp/brim_broker_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return false;
    dir_ = tmpl;
    conf_ = dir_ + "/mosquitto.conf";
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      port_ = free_loopback_port();
      FILE *f = std::fopen(conf_.c_str(), "w");
      if (port_ <= 0 || f == nullptr) return false;
      std::fprintf(f, "listener %d 127.0.0.1\nallow_anonymous true\n", port_);
      std::fclose(f);
      pid_t pid = fork();
      if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0), dup2(devnull, 1), dup2(devnull, 2);
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf_.c_str(), static_cast<char *>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 250 && pid > 0 && pid_ <= 0; ++i) {
        if (accepts_connections(port_)) pid_ = pid;
        else if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // died: the port was taken meanwhile
        else usleep(20 * 1000);
      }
      if (pid > 0 && pid_ <= 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    }
    if (pid_ > 0) setenv("BRIM_MQTT_PORT", std::to_string(port_).c_str(), 1);
    return pid_ > 0;
  }
  void stop() {
    if (pid_ > 0) kill(pid_, SIGTERM), waitpid(pid_, nullptr, 0), pid_ = -1;
    if (!dir_.empty()) unlink(conf_.c_str()), rmdir(dir_.c_str()), dir_.clear();
  }
  int port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  std::string dir_, conf_;
  int port_ = -1;
  pid_t pid_ = -1;
};

struct Received {
  std::string topic, payload;
  int payloadlen, qos;
  bool retain;
};

// Subscribes (optionally), records messages, and is the handle the reply functions publish with.
class Client {
 public:
  Client() {
    mosquitto_lib_init();
    if ((m_ = mosquitto_new(nullptr, true, this)) == nullptr) return;
    mosquitto_connect_callback_set(m_, [](mosquitto *, void *c, int rc) { static_cast<Client *>(c)->connected_ = !rc; });
    mosquitto_subscribe_callback_set(
        m_, [](mosquitto *, void *c, int, int, const int *) { static_cast<Client *>(c)->subscribed_ = true; });
    mosquitto_message_callback_set(m_, [](mosquitto *, void *c, const mosquitto_message *msg) {
      const char *p = static_cast<const char *>(msg->payload);
      static_cast<Client *>(c)->received_.push_back(
          {msg->topic, p ? std::string(p, static_cast<size_t>(msg->payloadlen)) : "", msg->payloadlen, msg->qos, msg->retain});
    });
  }
  ~Client() {
    if (m_ != nullptr) mosquitto_disconnect(m_), mosquitto_destroy(m_);
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  mosquitto *handle() const { return m_; }
  [[nodiscard]] bool connect(int port) {
    return m_ && mosquitto_connect(m_, "127.0.0.1", port, 30) == 0 && serve_until([this] { return connected_; });
  }
  [[nodiscard]] bool subscribe(const char *filter) {
    subscribed_ = false;
    return mosquitto_subscribe(m_, nullptr, filter, 0) == 0 && serve_until([this] { return subscribed_; });
  }
  bool wait_for(size_t count) {  // until `count` messages have arrived
    return serve_until([this, count] { return received_.size() >= count; });
  }
  void serve_a_little() {  // for messages that must NOT arrive
    for (int i = 0; i < 5; ++i) mosquitto_loop(m_, 20, 1);
  }
  const std::vector<Received> &received() const { return received_; }

 private:
  template <class Done>
  bool serve_until(Done done) {
    for (int i = 0; i < 500 && !done(); ++i)
      if (mosquitto_loop(m_, 20, 1) != MOSQ_ERR_SUCCESS) usleep(20 * 1000);
    return done();
  }
  mosquitto *m_ = nullptr;
  bool connected_ = false, subscribed_ = false;
  std::vector<Received> received_;
};

}  // namespace brim_test
