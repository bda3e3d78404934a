// Replies to management requests, published on the request topic followed by "/R".
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// QoS 0, not retained; an empty (or missing) text goes out as a zero-length message.
int publish_text(struct mosquitto *mosq, const char *topic, const char *text) {
  size_t len = text ? std::strlen(text) : 0;
  if (len > static_cast<size_t>(INT_MAX)) return MOSQ_ERR_PAYLOAD_SIZE;
  int mid = 0;
  return mosquitto_publish(mosq, &mid, topic, static_cast<int>(len), len ? text : nullptr, 0, false);
}

// Prints `root` with the formatted printer, publishes it on the reply topic, frees both.
void publish_object(struct mosquitto *mosq, const char *topic, cJSON *root) {
  char reply[kTopicCap];
  char *text = root ? cJSON_Print(root) : nullptr;
  if (text != nullptr && reply_topic(topic, reply)) publish_text(mosq, reply, text);
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

int websGetCfgResponse(struct mosquitto *mosq, const char *topic, const char *value) {
  char reply[kTopicCap];
  if (!reply_topic(topic, reply)) return MOSQ_ERR_INVAL;
  return publish_text(mosq, reply, value);
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
