/* Handler module for the tests: "echo" answers with the request it was handed, unformatted. */
#include <stdlib.h>

#include "brimlib.h"

static void echo(struct mosquitto *mosq, const char *topic, cJSON *request) {
  char *text = cJSON_PrintUnformatted(request);
  websGetCfgResponse(mosq, topic, text);
  free(text);
}

__attribute__((constructor)) static void register_echo(void) { brim_hook_register("echo", echo); }
