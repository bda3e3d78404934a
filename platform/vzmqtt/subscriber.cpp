// The subscriber process: loads the handler modules, then connects, subscribes, dispatches
// every request to its handler and reconnects whenever the broker goes away.
#include "platform/vzmqtt/subscriber.h"

#include "platform/vzmqtt/dispatch.h"

#include <fcntl.h>
#include <sys/syscall.h>

#include <cstdio>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

namespace brim {
namespace {

struct SubState {
  const char *filter;
};

// Handlers start daemons in the background ("sysconf ... &"): they must not inherit the broker
// connection, nor the client library's wake-up pair, neither of which it opens close-on-exec.
void close_on_exec_above_stdio() {
  constexpr unsigned kCloseRangeCloexec = 1U << 2;  // Linux 5.11; older kernels take the loop
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) == 0) return;
#endif
  (void)kCloseRangeCloexec;
  for (long fd = 3, max = ::sysconf(_SC_OPEN_MAX); fd < max; ++fd) {
    int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
  }
}

void on_connect(struct mosquitto *m, void *obj, int rc) {
  close_on_exec_above_stdio();
  // Subscribe on every connect: a broker restart forgets the subscription. No-local: the broker
  // does not send us our own replies back.
  if (rc == 0)
    mosquitto_subscribe_v5(m, nullptr, static_cast<SubState *>(obj)->filter, 0, MQTT_SUB_OPT_NO_LOCAL, nullptr);
}

void on_message(struct mosquitto *m, void *, const struct mosquitto_message *msg, const mosquitto_property *props) {
  if (msg == nullptr || msg->payloadlen < 0) return;
  dispatch_message(m, msg->topic, msg->payload, static_cast<size_t>(msg->payloadlen), props);
}

}  // namespace

int run_subscriber(const char *host, int port, const char *filter) {
  mosquitto_lib_init();
  load_modules(module_dir());
  SubState st{filter};
  char id[32];
  std::snprintf(id, sizeof id, "brim_sub-%d", static_cast<int>(::getpid()));
  struct mosquitto *m = mosquitto_new(id, true, &st);
  if (!m) return 1;
  // MQTT 5 for the no-local subscription. Each echoed reply was work thrown away, and its bytes,
  // left unacknowledged, let the broker's Nagle hold the next request back until our delayed
  // ACK (about 40 ms). Our own small writes go out at once too.
  mosquitto_int_option(m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_callback_set(m, on_connect);
  mosquitto_message_v5_callback_set(m, on_message);
  mosquitto_reconnect_delay_set(m, 1, 5, false);
  for (;;) {
    if (mosquitto_connect(m, host, port, 30) != MOSQ_ERR_SUCCESS) {
      ::sleep(1);
      continue;
    }
    // Reconnects by itself after a lost connection; returns only on errors it cannot mend.
    mosquitto_loop_forever(m, -1, 1);
    ::sleep(1);
  }
}

}  // namespace brim
