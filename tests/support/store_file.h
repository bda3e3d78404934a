// A configuration store file in a temporary directory, loaded into the store stand-in.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "brimlib.h"

namespace brim_test {

class StoreFile {
 public:
  StoreFile() {
    char tmpl[] = "/tmp/brim_store_XXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir_ = tmpl;
    path_ = dir_ + "/apmib.store";
  }
  ~StoreFile() { unlink(path_.c_str()), rmdir(dir_.c_str()); }
  StoreFile(const StoreFile &) = delete;
  StoreFile &operator=(const StoreFile &) = delete;
  // Writes `text` as the whole store file and loads it; false when either step fails.
  [[nodiscard]] bool load(const std::string &text) {
    FILE *f = std::fopen(path_.c_str(), "w");
    bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = f != nullptr && std::fclose(f) == 0 && ok;
    setenv("APMIB_STORE", path_.c_str(), 1);
    return ok && apmib_init() != 0;
  }

 private:
  std::string dir_, path_;
};

}  // namespace brim_test
