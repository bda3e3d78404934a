// Request dispatch in the subscriber. Rule: the hook name is the topic's last level; messages
// on reply topics (last level "R") are answers and never dispatched.
#include "platform/vzmqtt/dispatch.h"

#include <cerrno>
#include <dirent.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace brim {
namespace {

char g_failures[512];

void note_failure(const char *name) {
  size_t used = std::strlen(g_failures);
  std::snprintf(g_failures + used, sizeof g_failures - used, "%s%s", used ? ", " : "", name);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int shared_object(const struct dirent *e) {
  size_t n = std::strlen(e->d_name);
  return n > 3 && e->d_name[0] != '.' && std::strcmp(e->d_name + n - 3, ".so") == 0;
}

}  // namespace

std::string_view hook_name(std::string_view topic) {
  size_t slash = topic.rfind('/');
  return slash == std::string_view::npos ? topic : topic.substr(slash + 1);
}

bool is_reply_topic(std::string_view topic) {
  return topic.size() >= 2 && topic.substr(topic.size() - 2) == "/R";
}

const struct brim_hook *find_hook(std::string_view name) {
  for (const struct brim_hook *h = first_brim_hook; h != nullptr; h = h->next)
    if (h->name != nullptr && h->handler != nullptr && std::strlen(h->name) == name.size() &&
        std::memcmp(h->name, name.data(), name.size()) == 0)
      return h;
  return nullptr;
}

cJSON *parse_request(const char *body, size_t len) {
  if (body == nullptr || len == 0) return nullptr;
  const char *end = nullptr;
  cJSON *request = cJSON_ParseWithLengthOpts(body, len, &end, false);
  if (request == nullptr) return nullptr;
  // Trailing bytes other than white space (a second document, a NUL and more) make it no request.
  size_t used = (end != nullptr && end >= body) ? static_cast<size_t>(end - body) : len;
  bool rest_blank = used <= len;
  for (size_t i = used; rest_blank && i < len; ++i) rest_blank = is_space(body[i]);
  if (!rest_blank || !cJSON_IsObject(request)) {
    cJSON_Delete(request);
    return nullptr;
  }
  return request;
}

Verdict examine(const char *topic, const void *body, size_t len, const struct brim_hook **hook,
                cJSON **request) {
  *hook = nullptr;
  *request = nullptr;
  if (topic == nullptr) return Verdict::Ignore;
  std::string_view t(topic);
  if (is_reply_topic(t)) return Verdict::Ignore;
  if (t.size() > kMaxRequestTopic) return Verdict::TopicTooLong;
  if (len == 0 || body == nullptr) return Verdict::EmptyBody;
  if (len > kMaxRequestBody) return Verdict::BodyTooLarge;
  const struct brim_hook *h = find_hook(hook_name(t));
  if (h == nullptr) return Verdict::UnknownHook;
  cJSON *r = parse_request(static_cast<const char *>(body), len);
  if (r == nullptr) return Verdict::NotAnObject;
  *hook = h;
  *request = r;
  return Verdict::Dispatch;
}

const char *module_failures() { return g_failures; }

const char *module_dir() {
  const char *d = std::getenv("BRIM_MODULE_DIR");
  return (d != nullptr && *d != '\0') ? d : BRIM_MODULE_DIR_DEFAULT;
}

int load_modules(const char *dir) {
  struct dirent **names = nullptr;
  int n = ::scandir(dir, &names, shared_object, alphasort);
  if (n < 0) {
    std::fprintf(stderr, "brim_sub: cannot read the module directory %s: %s\n", dir, std::strerror(errno));
    return 0;
  }
  int loaded = 0;
  char path[4096];
  for (int i = 0; i < n; ++i) {
    int len = std::snprintf(path, sizeof path, "%s/%s", dir, names[i]->d_name);
    if (len < 0 || static_cast<size_t>(len) >= sizeof path) {
      std::fprintf(stderr, "brim_sub: module path too long: %s/%s\n", dir, names[i]->d_name);
      note_failure(names[i]->d_name);
    } else if (::dlopen(path, RTLD_NOW | RTLD_GLOBAL) == nullptr) {
      const char *why = ::dlerror();
      std::fprintf(stderr, "brim_sub: cannot load handler module %s: %s\n", path, why ? why : "unknown error");
      note_failure(names[i]->d_name);
    } else {
      ++loaded;  // kept loaded for the life of the process: its hooks point into it
    }
    std::free(names[i]);
  }
  std::free(names);
  return loaded;
}

namespace {

void serve(struct mosquitto *mosq, const char *topic, const void *body, size_t len) {
  const struct brim_hook *hook = nullptr;
  cJSON *request = nullptr;
  Verdict v = examine(topic, body, len, &hook, &request);
  char why[1024];
  switch (v) {
    case Verdict::Dispatch:
      hook->handler(mosq, topic, request);
      cJSON_Delete(request);
      return;
    case Verdict::Ignore:
      return;
    case Verdict::TopicTooLong:
      // No reply topic fits; answering on a cut topic would answer somebody else.
      std::fprintf(stderr, "brim_sub: request topic of more than %zu characters dropped (no reply topic fits): %.64s...\n",
                   kMaxRequestTopic, topic);
      return;
    case Verdict::EmptyBody:
      std::snprintf(why, sizeof why, "empty request body");
      break;
    case Verdict::BodyTooLarge:
      std::snprintf(why, sizeof why, "request body too large: %zu bytes (at most %zu)", len, kMaxRequestBody);
      break;
    case Verdict::NotAnObject:
      std::snprintf(why, sizeof why, "request body is not a JSON object");
      break;
    case Verdict::UnknownHook: {
      std::string_view name = hook_name(topic);
      int used = std::snprintf(why, sizeof why, "no handler for \"%.*s\"", static_cast<int>(name.size()), name.data());
      if (g_failures[0] != '\0' && used > 0 && static_cast<size_t>(used) < sizeof why)
        std::snprintf(why + used, sizeof why - static_cast<size_t>(used),
                      " (handler modules that failed to load: %s)", g_failures);
      break;
    }
  }
  std::fprintf(stderr, "brim_sub: %s: %s\n", topic, why);
  websErrorResponse(mosq, topic, why);
}

}  // namespace

void dispatch_message(struct mosquitto *mosq, const char *topic, const void *body, size_t len,
                      const mosquitto_property *props) {
  brim_request_begin(topic, props);
  serve(mosq, topic, body, len);
  brim_request_end();
}

}  // namespace brim
