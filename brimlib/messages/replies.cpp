// Replies to management requests, published on the request topic followed by "/R", and also on
// the MQTT 5 Response Topic of the request being served, when it named one.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <mqtt_protocol.h>

#include "brimlib.h"

namespace {

constexpr size_t kTopicCap = 256;
constexpr size_t kMaxRequestTopic = kTopicCap - 3;  // "/R" and the terminator

// False when the request topic is missing or would not fit with "/R": publishing on a cut
// topic would answer somebody else's request.
bool reply_topic(const char *topic, char (&out)[kTopicCap]) {
  std::memset(out, 0, sizeof out);
  if (topic == nullptr || ::strnlen(topic, kMaxRequestTopic + 1) > kMaxRequestTopic) return false;
  std::snprintf(out, sizeof out, "%s/R", topic);
  return true;
}

// The request the dispatcher is serving: borrowed from it for the handler's call.
const char *g_served_topic;
const mosquitto_property *g_served_props;

// A standard MQTT 5 client names where it wants the answer, and a value to match it by: answer
// there too, with that value, when the reply is to the request being served. The "/R" reply
// stays as it is.
void answer_response_topic(struct mosquitto *mosq, const char *request, const char *reply, const char *text,
                           int len) {
  if (g_served_topic == nullptr || request == nullptr || std::strcmp(request, g_served_topic) != 0) return;
  char *to = nullptr;
  if (!mosquitto_property_read_string(g_served_props, MQTT_PROP_RESPONSE_TOPIC, &to, false)) return;
  void *corr = nullptr;
  uint16_t corr_len = 0;
  mosquitto_property *props = nullptr;
  if (mosquitto_property_read_binary(g_served_props, MQTT_PROP_CORRELATION_DATA, &corr, &corr_len, false))
    mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, corr, corr_len);
  if (std::strcmp(to, reply) != 0) mosquitto_publish_v5(mosq, nullptr, to, len, len ? text : nullptr, 0, false, props);
  mosquitto_property_free_all(&props);
  std::free(corr);
  std::free(to);
}

// QoS 0, not retained, on the reply topic of `request`; an empty (or missing) text goes out as a
// zero-length message.
int publish_reply(struct mosquitto *mosq, const char *request, const char *text) {
  char reply[kTopicCap];
  if (!reply_topic(request, reply)) return MOSQ_ERR_INVAL;
  size_t len = text ? std::strlen(text) : 0;
  if (len > static_cast<size_t>(INT_MAX)) return MOSQ_ERR_PAYLOAD_SIZE;
  int mid = 0;
  int rc = mosquitto_publish(mosq, &mid, reply, static_cast<int>(len), len ? text : nullptr, 0, false);
  answer_response_topic(mosq, request, reply, text, static_cast<int>(len));
  return rc;
}

// Prints `root` with the formatted printer, publishes it on the reply topic, frees both.
void publish_object(struct mosquitto *mosq, const char *topic, cJSON *root) {
  char *text = root ? cJSON_Print(root) : nullptr;
  if (text != nullptr) publish_reply(mosq, topic, text);
  std::free(text);
  cJSON_Delete(root);
}

// Adds a string copy of `text` (a missing text as ""); the member is dropped if cJSON runs out.
void add_string(cJSON *root, const char *name, const char *text) {
  cJSON *item = cJSON_CreateString(text ? text : "");
  if (item != nullptr && !cJSON_AddItemToObject(root, name, item)) cJSON_Delete(item);
}

void add_item(cJSON *root, const char *name, cJSON *item) {
  if (item != nullptr && !cJSON_AddItemToObject(root, name, item)) cJSON_Delete(item);
}

}  // namespace

extern "C" {

void brim_request_begin(const char *topic, const mosquitto_property *props) {
  g_served_topic = topic;
  g_served_props = props;
}

void brim_request_end(void) {
  g_served_topic = nullptr;
  g_served_props = nullptr;
}

int websGetCfgResponse(struct mosquitto *mosq, const char *topic, const char *value) {
  return publish_reply(mosq, topic, value);
}

void websErrorResponse(struct mosquitto *mosq, const char *topic, const char *msg) {
  cJSON *root = cJSON_CreateObject();
  if (root == nullptr) return;
  add_item(root, "success", cJSON_CreateFalse());
  add_string(root, "error", msg);
  publish_object(mosq, topic, root);
}

void websSetCfgResponse(struct mosquitto *mosq, const char *topic, const char *wtime, const char *reserv) {
  cJSON *root = cJSON_CreateObject();
  if (root == nullptr) return;
  add_item(root, "success", cJSON_CreateTrue());
  add_item(root, "error", cJSON_CreateNull());
  // Both candidates are read on every call; in bridge mode the live bridge address is the one
  // a client can reach, and it is "" when br0 has none.
  char configured[32];
  std::memset(configured, 0, sizeof configured);
  getLanIp(configured);
  char bridge[18];
  std::memset(bridge, 0, sizeof bridge);
  getInAddr("br0", IFADDR_IP, bridge);
  add_string(root, "lan_ip", getOperationMode() == OPMODE_BRIDGE ? bridge : configured);
  add_string(root, "wtime", wtime);
  add_string(root, "reserv", reserv);
  publish_object(mosq, topic, root);
}

int safe_vz_pub(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
  vz_pub(reinterpret_cast<const char *>(a), reinterpret_cast<const void *>(b), c, d);
  return 0;
}

}  // extern "C"
