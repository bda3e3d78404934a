// The escaped JSON fragment builder: any names and values. Whatever is appended, the fragment,
// read once as a JSON string, must be a JSON object whose members are exactly those appended.
#include <cjson/cJSON.h>

#include <vector>

#include "brimlib.h"
#include "fuzz/fuzz_input.h"

using brim_fuzz::require;

BRIM_FUZZ_TARGET {
  brim_fuzz::Reader r(brim_fuzz::view(data, size));
  char root[2048] = "";
  std::vector<std::pair<std::string, std::string>> members;
  for (int i = 0; i < 8 && !r.rest().empty(); ++i) {
    uint8_t kind = r.byte();
    std::string name = r.text(), before = root, value;
    int rc;
    if (kind & 1) {  // spread over the whole range, both ends included
      int64_t wide = static_cast<int64_t>(r.byte()) * 0x01010101 * ((kind & 2) ? -1 : 1);
      int32_t num = static_cast<int32_t>(wide < INT32_MIN ? INT32_MIN : wide > INT32_MAX ? INT32_MAX : wide);
      rc = addNumInfoToroot(root, name.c_str(), num);
      value = std::to_string(num);
    } else {
      value = r.text();
      rc = addInfoToroot(root, name.c_str(), value.c_str());
    }
    if (rc == 0) members.emplace_back(name, value);
    else require(before == root);  // a refused member leaves the fragment as it was
  }
  if (members.empty()) return require(root[0] == '\0'), 0;
  cJSON *str = cJSON_Parse((std::string("\"") + root + "\"").c_str());
  require(cJSON_IsString(str));
  cJSON *obj = cJSON_Parse(str->valuestring);
  require(cJSON_IsObject(obj));
  size_t k = 0;  // cJSON treats member names as C strings; so do we
  for (const cJSON *m = obj->child; m != nullptr; m = m->next, ++k)
    require(k < members.size() && cJSON_IsString(m) && !std::strcmp(m->string, members[k].first.c_str()) &&
            !std::strcmp(m->valuestring, members[k].second.c_str()));
  require(k == members.size());
  cJSON_Delete(obj);
  cJSON_Delete(str);
  return 0;
}
