// Request dispatch in the subscriber: handler modules, the topic rule, and the checks a message
// passes before it reaches a handler.
#pragma once

#include <cstddef>
#include <string_view>

#include "brimlib.h"

namespace brim {

// Requests larger than this are refused: no management request comes near it, and a handler
// must not be handed an unbounded parse.
constexpr size_t kMaxRequestBody = 64 * 1024;
// The reply topic (request topic + "/R") must fit the reply functions' 256-byte buffer.
constexpr size_t kMaxRequestTopic = 253;

// The hook name of a request: the last level of its topic ("dev/42/status" -> "status").
std::string_view hook_name(std::string_view topic);
// True for reply topics (last level "R"): they carry answers and are never dispatched.
bool is_reply_topic(std::string_view topic);
// The first registered hook whose name is exactly `name` (registration order); nullptr if none.
const struct brim_hook *find_hook(std::string_view name);
// The body as a request: a JSON object filling the whole body (white space around it allowed).
// Reads exactly `len` bytes, no terminator needed. nullptr for anything else; the caller frees.
cJSON *parse_request(const char *body, size_t len);

// What becomes of one message.
enum class Verdict { Dispatch, Ignore, TopicTooLong, EmptyBody, BodyTooLarge, NotAnObject, UnknownHook };
// Checks in the order a message meets them; on Dispatch, *hook and *request are set and the
// caller frees *request. `body` may be nullptr when len is 0.
Verdict examine(const char *topic, const void *body, size_t len, const struct brim_hook **hook,
                cJSON **request);

// Names of the modules that failed to load, ", "-separated ("" when all loaded).
const char *module_failures();
// dlopen()s every "*.so" in `dir`, in name order, with RTLD_NOW | RTLD_GLOBAL; each module
// registers its hooks from a constructor. A module that fails is named on stderr and kept in
// module_failures(). Returns the number loaded.
int load_modules(const char *dir);
// The module directory: BRIM_MODULE_DIR, or where the install puts modules (<libdir>/brim/modules
// of the configured prefix: /usr/lib/brim/modules on the router).
const char *module_dir();

// Handles one received message: dispatches it, or answers with websErrorResponse on
// topic + "/R" (and one line on stderr) when it cannot. Reply topics are ignored silently.
// `props` (MQTT 5, may be nullptr): a Response Topic there is answered too (brim_request_begin).
void dispatch_message(struct mosquitto *mosq, const char *topic, const void *body, size_t len,
                      const mosquitto_property *props = nullptr);

}  // namespace brim
