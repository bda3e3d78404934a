// websGetVar over whatever JSON a request may carry: every member of the parsed object (and a few
// that are missing) is asked for; the answer is the member's text, "0"/"1", a number's text or
// the default, and a number's text is a decimal integer.
#include <cjson/cJSON.h>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

static void check(cJSON *object, const char *var) {
  static const char kDefault[] = "default";
  const char *v = websGetVar(object, var, kDefault);
  const cJSON *item = cJSON_GetObjectItem(object, var);
  brim_fuzz::require(v != nullptr && (item != nullptr || v == kDefault) && (!cJSON_IsString(item) || v == item->valuestring));
  size_t n = std::strlen(v);
  if (cJSON_IsNumber(item)) brim_fuzz::require(n > 0 && n <= 11 && std::strspn(v, "-0123456789") == n);
}

BRIM_FUZZ_TARGET {
  cJSON *root = cJSON_ParseWithLength(reinterpret_cast<const char *>(data), size);
  if (root == nullptr) return 0;
  for (const cJSON *m = root->child; m != nullptr; m = m->next)
    if (m->string != nullptr && m->string[0] != '\0') check(root, m->string);
  check(root, "missing"), check(root, "ssid");
  cJSON_Delete(root);
  return 0;
}
