// The escaped JSON fragment builder: any names and values. Whatever is appended, the fragment,
// read once as a JSON string, must be a JSON object whose members are exactly those appended.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

namespace {

// cJSON treats member names as C strings; so do we.
bool same(const char *a, const std::string &b) { return std::strcmp(a, b.c_str()) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  char root[2048] = "";
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < 8 && !r.rest().empty(); ++i) {
    uint8_t kind = r.byte();
    std::string name = r.text();
    std::string before = root;
    int rc;
    std::string value;
    if (kind & 1) {
      // Spread over the whole range, both ends included.
      int64_t wide = static_cast<int64_t>(r.byte()) * 0x01010101 * ((kind & 2) ? -1 : 1);
      int32_t num = static_cast<int32_t>(wide < INT32_MIN ? INT32_MIN : wide > INT32_MAX ? INT32_MAX : wide);
      rc = addNumInfoToroot(root, name.c_str(), num);
      value = std::to_string(num);
    } else {
      value = r.text();
      rc = addInfoToroot(root, name.c_str(), value.c_str());
    }
    if (rc == 0)
      members.emplace_back(name, value);
    else if (before != root)
      std::abort();  // a refused member leaves the fragment as it was
  }
  if (members.empty()) {
    if (root[0] != '\0') std::abort();
    return 0;
  }

  std::string quoted = std::string("\"") + root + "\"";
  cJSON *str = cJSON_Parse(quoted.c_str());
  if (!cJSON_IsString(str)) std::abort();
  cJSON *obj = cJSON_Parse(str->valuestring);
  if (!cJSON_IsObject(obj)) std::abort();
  size_t k = 0;
  for (const cJSON *m = obj->child; m != nullptr; m = m->next, ++k) {
    if (k >= members.size() || !cJSON_IsString(m)) std::abort();
    if (!same(m->string, members[k].first) || !same(m->valuestring, members[k].second)) std::abort();
  }
  if (k != members.size()) std::abort();
  cJSON_Delete(obj);
  cJSON_Delete(str);
  return 0;
}
