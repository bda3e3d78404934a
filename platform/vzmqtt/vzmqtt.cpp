// Stand-in for the framework's MQTT client library: vz_sub starts the subscriber process
// "brim_sub"; vz_pub publishes one message to the local broker.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mosquitto.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "brimlib.h"
#include "platform/vzmqtt/subscriber.h"

namespace {

int broker_port() {
  const char *p = std::getenv("BRIM_MQTT_PORT");
  int port = p ? std::atoi(p) : 0;
  return (port > 0 && port < 65536) ? port : 1883;
}

void lib_init_once() {
  static bool done = false;
  if (!done) {
    mosquitto_lib_init();
    done = true;
  }
}

struct PubState {
  bool published = false;
};

void on_publish(struct mosquitto *, void *obj, int) { static_cast<PubState *>(obj)->published = true; }

}  // namespace

extern "C" int vz_sub(const char *host, const char *topic) {
  if (host == nullptr || topic == nullptr || *host == '\0' || *topic == '\0') return -1;
  // Lets tests see how the boot copes with a subscription that cannot be started.
  const char *fail = std::getenv("BRIM_VZ_SUB_FAIL");
  if (fail && *fail == '1') return -1;
  std::fflush(nullptr);  // the children must not flush our buffered output a second time
  pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    // Detach through a second fork, so the caller is never left with a zombie to reap.
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
    ::prctl(PR_SET_NAME, "brim_sub", 0, 0, 0);
    int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devnull >= 0) {
      ::dup2(devnull, STDIN_FILENO);
      ::close(devnull);
    }
    ::_exit(brim::run_subscriber(host, broker_port(), topic));
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? 0 : -1;
}

extern "C" int vz_pub(const char *topic, const void *payload, intptr_t payloadlen, intptr_t qos) {
  if (topic == nullptr || payloadlen < 0 || payloadlen > INT32_MAX || qos < 0 || qos > 2)
    return MOSQ_ERR_INVAL;
  lib_init_once();
  PubState st;
  struct mosquitto *m = mosquitto_new(nullptr, true, &st);
  if (!m) return MOSQ_ERR_NOMEM;
  mosquitto_publish_callback_set(m, on_publish);
  int rc = mosquitto_connect(m, "127.0.0.1", broker_port(), 10);
  if (rc == MOSQ_ERR_SUCCESS)
    rc = mosquitto_publish(m, nullptr, topic, static_cast<int>(payloadlen), payloadlen ? payload : nullptr,
                           static_cast<int>(qos), false);
  // Bounded: a broker that stops answering must not hang the caller.
  for (int i = 0; rc == MOSQ_ERR_SUCCESS && !st.published && i < 50; ++i) rc = mosquitto_loop(m, 100, 1);
  if (rc == MOSQ_ERR_SUCCESS && !st.published) rc = MOSQ_ERR_CONN_LOST;
  mosquitto_disconnect(m);
  mosquitto_destroy(m);
  return rc;
}
