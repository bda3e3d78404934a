// Request fields as text: websGetVar and its conversions.
#include <cstdio>
#include <cstdlib>

#include "brimlib.h"

namespace {

// One buffer for the whole process: each number conversion overwrites the previous one.
// "-2147483648" and its terminator need 12 bytes.
char g_number_text[16];

// A null or empty field name is a fault in handler code, never in request data: stop the
// process in every build type, the way a failed assert reports itself.
[[noreturn]] void field_name_fault(unsigned line) {
  std::fprintf(stderr, "%s:%u: %s: Assertion `%s' failed.\n", "brimlib", line, "websGetVar", "var && *var");
  std::fflush(stderr);
  std::abort();
}

}  // namespace

extern "C" const char *websGetVar(cJSON *object, const char *var, const char *defaultGetValue) {
  if (var == nullptr || *var == '\0') field_name_fault(__LINE__);
  const cJSON *item = cJSON_GetObjectItem(object, var);
  if (item == nullptr) return defaultGetValue;
  if (item->valuestring != nullptr) return item->valuestring;
  if (cJSON_IsFalse(item)) return "0";
  if (cJSON_IsTrue(item)) return "1";
  if (cJSON_IsNumber(item)) {
    std::snprintf(g_number_text, sizeof g_number_text, "%d", item->valueint);
    return g_number_text;
  }
  return defaultGetValue;
}
