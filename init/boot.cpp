// The boot sequence: language file, update flag, hosts file, broker, subscriber, daemon,
// system password and telnet, in this order, each step run to completion.
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unistd.h>

#include "brimlib.h"
#include "init/boot_text.h"
#include "brimlib/config/item_ids.h"
#include "brimlib/config/store_read.h"

namespace {

constexpr const char *kDefaultPassword = "hq4729";
// The two default host names share a prefix: "brimrouter" and "brimsetup".
constexpr const char *kHostPrefix = "brim";
constexpr const char *kHostSuffix1 = "router";
constexpr const char *kHostSuffix2 = "setup";

void run(const char *cmd) { BrimSystem(cmd, 0); }

void set_password() {
  char password[128] = {};
  brim::read_text(MIB_SUPER_PASSWORD, password, sizeof password);
  if (password[0] == '\0') std::memcpy(password, kDefaultPassword, std::strlen(kDefaultPassword) + 1);

  // Room for the longest password with every character quoted, so none is ever cut.
  char first[brim::kPasswordCmdCap], second[brim::kPasswordCmdCap];
  switch (brim::password_commands(password, first, second, sizeof first)) {
    case brim::PasswordForm::Refused:
      std::fputs("initbrim: stored password holds a control character; system password left unchanged\n",
                 stderr);
      return;
    case brim::PasswordForm::Plain:
    case brim::PasswordForm::Quoted:
      run(first);
      run(second);
      run("passwd < /var/tmppwd");
      run("rm -f /var/tmppwd");
      return;
  }
}

}  // namespace

extern "C" {

void setLanguage(void) {
  char lang[8] = {};
  brim::read_text(MIB_WEB_LANGUAGE, lang, sizeof lang);
  run("mkdir /var/js 1>/dev/null 2>&1");
  const char *code = brim::language_code(lang);
  run("rm -rf /var/js/language* 1>/dev/null 2>&1");
  char cmd[128];
  std::snprintf(cmd, sizeof cmd, "cp /web_brim/js/language_%s.js /var/js/language.js", code);
  run(cmd);
  run("ln -s /var/js/language.js /web_brim/js/language.js 1>/dev/null 2>&1");
}

void setHosts(void) {
  // Larger than the item so that a store handing back an over-long name is caught, not cut.
  char host[64];
  char cmd[128];
  char lan[32];
  std::memset(host, 0, sizeof host);
  std::memset(cmd, 0, sizeof cmd);
  std::memset(lan, 0, sizeof lan);
  brim::read_text(MIB_HOST_NAME, host, sizeof host);
  getLanIp(lan);
  run("echo >/etc/hosts");
  if (host[0] != '\0' && !brim::valid_host_name(host)) {
    std::fputs("setHosts: stored host name is not a valid host name; default names written\n", stderr);
    host[0] = '\0';
  }
  if (host[0] != '\0')
    std::snprintf(cmd, sizeof cmd, "echo '%s\t%s'>/etc/hosts", lan, host);
  else
    std::snprintf(cmd, sizeof cmd, "echo '%s\t%s%s\t%s%s'>/etc/hosts", lan, kHostPrefix, kHostSuffix1,
                  kHostPrefix, kHostSuffix2);
  run(cmd);
}

int initbrim(void) {
  if (apmib_init() == 0) return 0;
  setLanguage();
  run("echo '0' > /tmp/update_flag");
  if (f_file_exist("/mnt/plugin_version")) run("cp -f /mnt/plugin_version /var/plugin_version");

  run(brim::read_int(MIB_WAN_LINK_MARK) == 1 ? "echo > /tmp/wanlink" : "rm -rf /tmp/wanlink 2> /dev/null");

  setHosts();
  run("killall vz_broker 2> /dev/null");
  run("vz_broker -c /etc/mosquitto.conf & 2> /dev/null");
  ::sleep(1);  // the broker needs a moment before the subscriber connects
  run("killall brim_sub 2> /dev/null");
  vz_sub("127.0.0.1", "#");
  run("killall vz_daemon 2> /dev/null");
  run("vz_daemon &");

  set_password();

  int32_t telnet = brim::read_int(MIB_TELNET_ENABLED);
  run("killall telnetd 2> /dev/null");
  if (telnet == 1) run("telnetd &");
  return 0;
}

}  // extern "C"
