// websGetVar over whatever JSON a request may carry: every member of the parsed object (and a few
// that are missing) is asked for; the answer is the member's text, "0"/"1", a number's text or
// the default, and a number's text is a decimal integer.
#include <cjson/cJSON.h>

#include <cstdlib>
#include <cstring>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

namespace {

void check(cJSON *object, const char *var) {
  static const char kDefault[] = "default";
  const char *v = websGetVar(object, var, kDefault);
  if (v == nullptr) std::abort();
  const cJSON *item = cJSON_GetObjectItem(object, var);
  if (item == nullptr && v != kDefault) std::abort();
  if (cJSON_IsString(item) && v != item->valuestring) std::abort();
  if (cJSON_IsNumber(item)) {
    size_t n = std::strlen(v);
    if (n == 0 || n > 11 || std::strspn(v, "-0123456789") != n) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  cJSON *root = cJSON_ParseWithLength(reinterpret_cast<const char *>(data), size);
  if (root == nullptr) return 0;
  for (const cJSON *m = root->child; m != nullptr; m = m->next)
    if (m->string != nullptr && m->string[0] != '\0') check(root, m->string);
  check(root, "missing");
  check(root, "ssid");
  cJSON_Delete(root);
  return 0;
}
