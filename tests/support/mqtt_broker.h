// A real mosquitto broker on a free loopback port, and a libmosquitto client that records
// what it receives. Every wait is a bounded loop: a broker that never answers fails the test
// instead of hanging it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace brim_test {

inline void pause_briefly() { usleep(20 * 1000); }

// A port that was free a moment ago on 127.0.0.1.
inline int free_loopback_port() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

inline bool accepts_connections(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

class Broker {
 public:
  ~Broker() { stop(); }

  // Starts /usr/sbin/mosquitto and waits (bounded) until it accepts; sets BRIM_MQTT_PORT.
  [[nodiscard]] bool start() {
    char tmpl[] = "/tmp/brim_broker_XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return false;
    dir_ = tmpl;
    conf_ = dir_ + "/mosquitto.conf";
    for (int attempt = 0; attempt < 5 && pid_ <= 0; ++attempt) {
      port_ = free_loopback_port();
      if (port_ <= 0 || !write_conf()) return false;
      pid_t pid = fork();
      if (pid < 0) return false;
      if (pid == 0) {
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
          dup2(devnull, 0);
          dup2(devnull, 1);
          dup2(devnull, 2);
        }
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", conf_.c_str(), static_cast<char *>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 250; ++i) {
        if (accepts_connections(port_)) {
          pid_ = pid;
          break;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) break;  // died: the port was taken meanwhile
        pause_briefly();
      }
      if (pid_ <= 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    if (pid_ <= 0) return false;
    setenv("BRIM_MQTT_PORT", std::to_string(port_).c_str(), 1);
    return true;
  }

  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (!dir_.empty()) {
      unlink(conf_.c_str());
      rmdir(dir_.c_str());
      dir_.clear();
    }
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  bool write_conf() {
    FILE *f = std::fopen(conf_.c_str(), "w");
    if (f == nullptr) return false;
    std::fprintf(f, "listener %d 127.0.0.1\nallow_anonymous true\n", port_);
    return std::fclose(f) == 0;
  }

  std::string dir_, conf_;
  int port_ = -1;
  pid_t pid_ = -1;
};

struct Received {
  std::string topic;
  std::string payload;
  int payloadlen;
  int qos;
  bool retain;
};

// A libmosquitto client: subscribes (optionally), records messages, and serves as the
// handle that the reply functions publish through.
class Client {
 public:
  Client() {
    mosquitto_lib_init();
    m_ = mosquitto_new(nullptr, true, this);
    if (m_ != nullptr) {
      mosquitto_connect_callback_set(m_, [](mosquitto *, void *self, int rc) {
        static_cast<Client *>(self)->connected_ = (rc == 0);
      });
      mosquitto_subscribe_callback_set(m_, [](mosquitto *, void *self, int, int, const int *) {
        static_cast<Client *>(self)->subscribed_ = true;
      });
      mosquitto_message_callback_set(m_, [](mosquitto *, void *self, const mosquitto_message *msg) {
        const char *p = static_cast<const char *>(msg->payload);
        static_cast<Client *>(self)->received_.push_back(
            {msg->topic, p ? std::string(p, static_cast<size_t>(msg->payloadlen)) : std::string(), msg->payloadlen,
             msg->qos, msg->retain});
      });
    }
  }
  ~Client() {
    if (m_ != nullptr) {
      mosquitto_disconnect(m_);
      mosquitto_destroy(m_);
    }
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;

  mosquitto *handle() const { return m_; }

  [[nodiscard]] bool connect(int port) {
    if (m_ == nullptr || mosquitto_connect(m_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return false;
    return serve_until([this] { return connected_; });
  }

  [[nodiscard]] bool subscribe(const char *filter) {
    subscribed_ = false;
    if (mosquitto_subscribe(m_, nullptr, filter, 0) != MOSQ_ERR_SUCCESS) return false;
    return serve_until([this] { return subscribed_; });
  }

  // Serves the connection until `count` messages have arrived (bounded).
  bool wait_for(size_t count) {
    return serve_until([this, count] { return received_.size() >= count; });
  }

  // Serves the connection a little, for messages that must NOT arrive.
  void serve_a_little() {
    for (int i = 0; i < 5; ++i) mosquitto_loop(m_, 20, 1);
  }

  const std::vector<Received> &received() const { return received_; }

 private:
  template <class Done>
  bool serve_until(Done done) {
    for (int i = 0; i < 500 && !done(); ++i)
      if (mosquitto_loop(m_, 20, 1) != MOSQ_ERR_SUCCESS) pause_briefly();
    return done();
  }

  mosquitto *m_ = nullptr;
  bool connected_ = false;
  bool subscribed_ = false;
  std::vector<Received> received_;
};

}  // namespace brim_test
