// The process-wide list of handler hooks, in registration order. Records live until exit.
#include <cstdlib>
#include <cstring>

#include "brimlib.h"

extern "C" {

struct brim_hook *first_brim_hook = nullptr;

void hook_list_init(void) { first_brim_hook = nullptr; }

char *safe_strdup(const char *s) {
  if (s == nullptr) std::exit(1);
  char *copy = ::strdup(s);
  if (copy == nullptr) std::exit(1);
  return copy;
}

struct brim_hook *brim_hook_register(const char *name, brim_handler_fn handler) {
  auto *hook = static_cast<struct brim_hook *>(std::calloc(1, sizeof(struct brim_hook)));
  if (hook == nullptr) std::exit(1);
  hook->name = safe_strdup(name);
  hook->handler = handler;
  if (first_brim_hook == nullptr) {
    first_brim_hook = hook;
  } else {
    struct brim_hook *last = first_brim_hook;
    while (last->next != nullptr) last = last->next;
    last->next = hook;
  }
  return hook;
}

}  // extern "C"
