/* The library's calls that need neither cJSON nor MQTT, on the C library the program runs on (the
 * router's: uClibc-ng with and without posix_spawn, in the emulated router and under qemu-user).
 * One line per check, then "N passed, N failed"; the exit status is 0 only when all pass.
 * Usage: probe DIR   (DIR: a writable scratch directory of its own) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "brimlib.h"

static int passed, failed;

static void check(const char *what, int ok, const char *got) {
  printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, ok ? "" : ": got ", ok ? "" : got);
  ok ? ++passed : ++failed;
}
static void check_int(const char *what, long got, long want) {
  char text[24];
  snprintf(text, sizeof text, "%ld", got);
  check(what, got == want, text);
}
static void check_str(const char *what, const char *got, const char *want) {
  check(what, got && strcmp(got, want) == 0, got ? got : "(null)");
}

int main(int argc, char **argv) {
  char path[200], other[200], buf[256], quoted[64], cmd[128];
  const char *odd = "it's $HOME `x` \"y\"";
  unsigned char digest[16];
  MD5_CTX md5;
  NetDevStats stats;
  uint32_t gateway = 7;
  int secs;
  if (argc != 2 || strlen(argv[1]) > 150) return fprintf(stderr, "usage: probe DIR\n"), 2;

  /* The shell runner and output capture. */
  check_int("BrimSystem: exit status", BrimSystem("exit 3", 0), 3 << 8);
  check_int("BrimSystem: killed by a signal", BrimSystem("kill -9 $$", 0), 9);
  check_int("BrimSystem: command not found", BrimSystem("exec /no/such/program", 0), 127 << 8);
  check_int("brim_shell_quote", brim_shell_quote(odd, quoted, sizeof quoted) > 0, 1);
  snprintf(cmd, sizeof cmd, "printf %%s %s", quoted);
  check_int("getCmdStr: one word through the shell", getCmdStr(cmd, buf, sizeof buf), 0);
  check_str("getCmdStr: the word unchanged", buf, odd);
  check_int("getCmdResult: first line", getCmdResult("echo one; echo two", buf, sizeof buf), 0);
  check_str("getCmdResult: its text", buf, "one");
  check_int("getCmdVal", getCmdVal("echo 42"), 42);

  /* Files. */
  snprintf(path, sizeof path, "%s/file", argv[1]);
  snprintf(other, sizeof other, "%s/link", argv[1]);
  check_int("f_write", f_write(path, "abc", 3, WRITE_FLAG_NEWLINE, 0600), 4);
  check_int("f_size", f_size(path), 4);
  memset(buf, 0, sizeof buf);
  check_int("f_read at an offset", f_read(path, buf, 1, 10), 3);
  check_str("f_read: the bytes", buf, "bc\n");
  check_int("write_line_to_file: append", write_line_to_file(path, 2, "de"), 1);
  check_int("getStrFromFile", getStrFromFile(path, buf), 5);
  check_str("getStrFromFile: the text", buf, "abc\nd");
  check_int("path tests", isFileExist(path) && f_file_exist(path) && d_exist(argv[1]) && !d_exist(path) &&
    symlink("file", other) == 0 && l_exist(other) && !l_exist(path), 1);
  check_int("lock_file twice", lock_file(other) == 0 && unlock_file(other) && lock_file(other), 1);

  /* MD5, in memory and of a file (through md5sum). */
  MD5Init(&md5);
  MD5Update(&md5, "ab", 2);
  MD5Update(&md5, "c", 1);
  MD5Final(digest, &md5);
  convert_bin_to_str(digest, 16, buf);
  check_str("MD5 of abc", buf, "900150983cd24fb0d6963f7d28e17f72");
  f_write(path, "abc", 3, 0, 0);
  Cal_file_md5(path, buf);
  check_str("Cal_file_md5", buf, "900150983cd24fb0d6963f7d28e17f72");

  /* Interface addresses and kernel tables, on the loopback interface every system has. */
  check_int("getIfIp lo", getIfIp("lo", buf), 0);
  check_str("getIfIp lo: the address", buf, "127.0.0.1");
  check_int("getInAddr lo netmask", getInAddr("lo", IFADDR_NETMASK, buf), 1);
  check_str("getInAddr lo netmask: the mask", buf, "255.0.0.0");
  check_int("getIfMac of no interface", getIfMac("nosuchif0", buf), -1);
  check_int("getStats lo", getStats("lo", &stats), 0);
  check_int("getStats of no interface", getStats("nosuchif0", &stats), -1);
  check_int("getDefaultRoute: none through lo", getDefaultRoute("lo", &gateway), 0);
  arplookup("0.0.0.1", buf);
  check_str("arplookup: no entry", buf, "00:00:00:00:00:00");
  check_int("getSysUptime: days;hours;minutes;seconds", sscanf(getSysUptime(), "%*d;%*d;%*d;%d", &secs) == 1, 1);

  /* The configuration store through libapmib.so: a store of our own. */
  snprintf(path, sizeof path, "%s/apmib.store", argv[1]);
  const char *store = "IP_ADDR = 10.1.2.3\nSUBNET_MASK = 255.255.0.0\nOP_MODE = 1\n";
  f_write(path, store, (int)strlen(store), 0, 0);
  setenv("APMIB_STORE", path, 1);
  check_int("apmib_init", apmib_init() != 0, 1);
  check_str("getLanIp", getLanIp(buf), "10.1.2.3");
  check_str("getLanNetmask", getLanNetmask(buf), "255.255.0.0");
  check_int("getOperationMode", getOperationMode(), OPMODE_BRIDGE);

  printf("%d passed, %d failed\n", passed, failed);
  return failed != 0;
}
