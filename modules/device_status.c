/*
 * Handler module shipped with the library: answers "status" requests with the device's state,
 * and "set_hostname" requests by changing the local host name.
 *
 * Built against brimlib.h alone and linked against nothing: the subscriber that loads it carries
 * the library (and cJSON and libmosquitto), and the module's calls resolve from there.
 */
#include <stdlib.h>
#include <string.h>

#include "brimlib.h"

/* Configuration item: the local host name (text of at most 31 characters). */
#define ITEM_HOST_NAME 198
/* Commit kind for apmib_update_web: write the store and export the settings (bit 4). */
#define COMMIT_AND_EXPORT 4

static void add_text(cJSON *obj, const char *name, const char *text) {
  cJSON *item = cJSON_CreateString(text ? text : "");
  if (item != NULL && !cJSON_AddItemToObject(obj, name, item)) cJSON_Delete(item);
}

static void add_bool(cJSON *obj, const char *name, int value) {
  cJSON *item = value ? cJSON_CreateTrue() : cJSON_CreateFalse();
  if (item != NULL && !cJSON_AddItemToObject(obj, name, item)) cJSON_Delete(item);
}

static void add_number(cJSON *obj, const char *name, double value) {
  cJSON *item = cJSON_CreateNumber(value);
  if (item != NULL && !cJSON_AddItemToObject(obj, name, item)) cJSON_Delete(item);
}

/* {"lan_ip", "lan_netmask", "wan_if", "wan_ip", "wan_gateway", "wan_connected", "wan_link_time",
 *  "op_mode", "uptime", "dns": [...]}; link time and uptime as "days;hours;minutes;seconds". */
static void status(struct mosquitto *mosq, const char *topic, cJSON *request) {
  char lan_ip[32], lan_mask[32], wan_if[20], link_time[32];
  cJSON *reply = cJSON_CreateObject();
  cJSON *dns = cJSON_CreateArray();
  char *text;
  int mode, n;

  (void)request;
  if (reply == NULL || dns == NULL) {
    cJSON_Delete(reply);
    cJSON_Delete(dns);
    websErrorResponse(mosq, topic, "out of memory");
    return;
  }
  memset(lan_ip, 0, sizeof lan_ip);
  memset(lan_mask, 0, sizeof lan_mask);
  memset(wan_if, 0, sizeof wan_if);
  memset(link_time, 0, sizeof link_time);
  mode = getOperationMode();
  getWanIfName(wan_if);
  getWanLinktime(link_time);

  add_text(reply, "lan_ip", getLanIp(lan_ip));
  add_text(reply, "lan_netmask", getLanNetmask(lan_mask));
  add_text(reply, "wan_if", wan_if);
  add_text(reply, "wan_ip", getWanIp());
  add_text(reply, "wan_gateway", getWanGateway());
  /* checkWanStatus judges the repeater link of mode 2; the wired modes are checkEthStatus's. */
  add_bool(reply, "wan_connected", mode == OPMODE_WIRELESS_WAN ? checkWanStatus() : checkEthStatus());
  add_text(reply, "wan_link_time", link_time);
  add_number(reply, "op_mode", mode);
  add_text(reply, "uptime", getSysUptime());
  for (n = 1; n <= 2; ++n) {
    const char *server = getDns(n);
    if (strcmp(server, "0.0.0.0") == 0) break;
    cJSON_AddItemToArray(dns, cJSON_CreateString(server));
  }
  if (!cJSON_AddItemToObject(reply, "dns", dns)) cJSON_Delete(dns);

  text = cJSON_PrintUnformatted(reply);
  if (text != NULL)
    websGetCfgResponse(mosq, topic, text);
  else
    websErrorResponse(mosq, topic, "out of memory");
  free(text);
  cJSON_Delete(reply);
}

/* Letters, digits, '-' and '.', 1 to 31 characters: what /etc/hosts and the store item take. */
static int valid_host_name(const char *name) {
  size_t n;
  for (n = 0; name[n] != '\0'; ++n) {
    char c = name[n];
    int ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!ok || n >= 31) return 0;
  }
  return n > 0;
}

/* {"hostname": "...", "wtime": "...", "reserv": "..."}: stores, commits, rewrites /etc/hosts. */
static void set_hostname(struct mosquitto *mosq, const char *topic, cJSON *request) {
  char name[32];
  char *wtime;
  const char *wanted = websGetVar(request, "hostname", "");

  if (!valid_host_name(wanted)) {
    websErrorResponse(mosq, topic, "hostname: 1 to 31 letters, digits, '-' or '.'");
    return;
  }
  memset(name, 0, sizeof name);
  strcpy(name, wanted); /* fits: checked above */
  if (!apmib_set(ITEM_HOST_NAME, name) || !apmib_update_web(COMMIT_AND_EXPORT)) {
    websErrorResponse(mosq, topic, "the host name could not be saved");
    return;
  }
  setHosts();
  /* websGetVar's number text is overwritten by the next number: keep the first. */
  wtime = strdup(websGetVar(request, "wtime", ""));
  websSetCfgResponse(mosq, topic, wtime ? wtime : "", websGetVar(request, "reserv", ""));
  free(wtime);
}

__attribute__((constructor)) static void register_hooks(void) {
  brim_hook_register("status", status);
  brim_hook_register("set_hostname", set_hostname);
}
