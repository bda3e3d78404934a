/*
 * brimlib: the router management framework's helper library and boot initialiser.
 *
 * This is the one public header. It declares every exported function, global and constant.
 * Conventions that hold throughout:
 *  - Results: 1/0 for tests, 0/-1 for operations and driver queries, counts or values elsewhere;
 *    each function below says which.
 *  - A function that returns text in a buffer of its own ("static buffer") overwrites it on its
 *    next call: copy what you keep. Nothing here is locked; call from one thread.
 *  - Widths: integers whose width matters are int32_t; "word-sized" means intptr_t.
 */
#ifndef BRIMLIB_H
#define BRIMLIB_H

#include <stdint.h>
#include <stdio.h>

#include <cjson/cJSON.h>
#include <mosquitto.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Caller buffers: the size each function below needs, terminator included. A buffer of exactly
 * this size is enough whatever the input, and nothing is ever written or read past it. */
#define BRIM_IPV4_TEXT_SIZE 16          /* getInAddr, getIfIp, getRealGateway, getLanIp, getLanNetmask */
#define BRIM_MAC_TEXT_SIZE 18           /* getIfMac, arplookup */
#define BRIM_WAN_LINKTIME_SIZE 11       /* getWanLinktime */
#define BRIM_WAN_CONNECT_STATUS_SIZE 13 /* get_wan_connect_status */
#define BRIM_WAN_CONNECT_MODE_SIZE 7    /* getWanConnectMode */
#define BRIM_WAN_IFNAME_SIZE 20         /* getWanIfName */
#define BRIM_MD5_TEXT_SIZE 34           /* Cal_file_md5 */
#define BRIM_CREATE_TIME_SIZE 64        /* get_Create_Time */
#define BRIM_TOKEN_SIZE 128             /* checkVar */
#define BRIM_LEASE_IP_SIZE 16           /* getOneDhcpClient: ip, mac, lease, host */
#define BRIM_LEASE_MAC_SIZE 20
#define BRIM_LEASE_TIME_SIZE 10
#define BRIM_LEASE_HOST_SIZE 64

#if defined(__GNUC__)
#define BRIM_API __attribute__((visibility("default")))
#else
#define BRIM_API
#endif

/* ------------------------------------------------------------------------------------------
 * Platform: the configuration store (libapmib) and the framework's MQTT client library.
 * On the router these come from the firmware; this project ships stand-ins with the same calls.
 * ---------------------------------------------------------------------------------------- */

/* Opens the store; 0 when it cannot be opened, non-zero otherwise. */
BRIM_API int apmib_init(void);
/* Copies item `id` into `value` (int32_t, 4-byte IPv4 in network order, NUL-terminated text or raw
 * key bytes). 0 when the item cannot be read; the buffer is then left untouched. Wireless items are
 * resolved against wlan_idx/vwlan_idx at the moment of the call. */
BRIM_API int apmib_get(int id, void *value);
/* Stores item `id` from `value` (in memory, until apmib_update). 0 for an unknown id. */
BRIM_API int apmib_set(int id, void *value);
/* Commits the stored values to the store file (atomically); 0 on failure, non-zero on success. */
BRIM_API int apmib_update(int type);
/* Exports the committed settings; the result is not looked at by this library. */
BRIM_API int save_vz_to_file(void);

/* Starts the message subscription on the broker at `host`, filter `topic`, in a background process
 * named "brim_sub" that reconnects by itself; returns at once. 0 when started, -1 otherwise.
 * The broker port is 1883 unless BRIM_MQTT_PORT says otherwise; BRIM_VZ_SUB_FAIL=1 makes the call
 * fail, for testing. */
BRIM_API int vz_sub(const char *host, const char *topic);
/* Publishes one message to the local broker (127.0.0.1). Returns 0 or a libmosquitto error code. */
BRIM_API int vz_pub(const char *topic, const void *payload, intptr_t payloadlen, intptr_t qos);

/* ------------------------------------------------------------------------------------------
 * Handler-owned globals: defined here, used by the handlers, never by the library itself.
 * ---------------------------------------------------------------------------------------- */
BRIM_API extern int32_t vzData, delay_time, ftype, web_mosq, wlan_num, vwlan_num, mssid_idx;
#ifndef __cplusplus
BRIM_API extern int32_t tm;
#endif
BRIM_API extern int32_t WAN_IF, BRIDGE_IF, PPPOE_IF, ELAN_IF, ELAN2_IF, ELAN3_IF, ELAN4_IF;
BRIM_API extern char msgData[516];
BRIM_API extern char upgrade_time[44];
BRIM_API extern char mos_conf[40];
BRIM_API extern char mac_md5[40];
BRIM_API extern char WLAN_IF[20];
BRIM_API extern int32_t last_wantype; /* -1 at start */

/* ------------------------------------------------------------------------------------------
 * Boot initialiser (init/)
 * ---------------------------------------------------------------------------------------- */

/* Runs the boot sequence once; always returns 0 (also when the store cannot be opened). */
BRIM_API int initbrim(void);
/* Puts the configured web interface language file in place as /var/js/language.js. */
BRIM_API void setLanguage(void);
/* Rewrites /etc/hosts with the LAN address and the configured (or default) host name. */
BRIM_API void setHosts(void);
/* Makes /mnt/SysCurVerMd5 hold the MD5 digest (32 lower-case digits and a line end) of the
 * installed firmware image, assembled from /etc/nohw.dat, /dev/mtdblock0 and /dev/mtdblock1 in
 * the temporary file /tmp/tmpFw. Prints "ROOTFS_OFFSET_T=208002 SysCurVerMd5=<record>" on every
 * call. Returns 32 when the record already holds a digest (nothing else is done); 16 when the
 * first partition's header cannot be read; when a piece cannot be copied whole, what its read
 * returned (the short count, or -1 when the source cannot be opened, a buffer cannot be had or
 * the temporary image cannot be written; the record is then unchanged and /tmp/tmpFw removed);
 * otherwise the result of the command that removes /tmp/tmpFw (0 on success). Not reentrant. */
BRIM_API int setFWMd5(void);

/* ------------------------------------------------------------------------------------------
 * Process control (brimlib/process/)
 * ---------------------------------------------------------------------------------------- */

/* Runs `cmd` with /bin/sh -c and waits for it. Returns the shell's wait status as waitpid gives it
 * (exit code n -> n*256, death by signal s -> s), 32512 when /bin/sh cannot run, -1 for a null
 * command (after printing "BrimSystem: Null Command, Error!"), a failed fork or a failed wait.
 * `trace` non-zero prints "[system]: <cmd>\r\n" first. Signal dispositions and masks are untouched.
 * Never build `cmd` from outside text without brim_shell_quote(). */
BRIM_API int BrimSystem(const char *cmd, int trace);
/* Writes `text` into `out` (capacity `cap` bytes) as one single-quoted shell word that the shell
 * hands on unchanged. Returns the length written, or -1 when it does not fit (out then holds ""). */
BRIM_API int brim_shell_quote(const char *text, char *out, int cap);

/* Output capture through a read pipe (popen "r"); the command's exit status is not looked at.
 * getCmdResult: reads the first line (fgets, cut at size-1) into `buf`, cuts its line end and sets
 *   buf[size-1] = 0; 0 once the command ran (`buf` keeps its old text, less its last byte, when the
 *   command printed nothing), -1 when it could not start or size <= 0 (`buf` untouched). */
BRIM_API int getCmdResult(const char *cmd, char *buf, int size);
/* getCmdStr: as getCmdResult, but -1 with `buf` emptied when the command printed nothing. */
BRIM_API int getCmdStr(const char *cmd, char *buf, int size);
/* getCmdVal: atoi of the first line (63 bytes at most); 0 when nothing was read. */
BRIM_API int getCmdVal(const char *cmd);
/* Channel of a wireless interface from "iwpriv <if> get_mib channel". On any failure, and for a
 * name that is not a plain interface name (1-15 of letters, digits, '.', '_', '-'; nothing is run
 * then), returns the channel last read for any interface (0 at first). */
BRIM_API int getWirelessChannel(const char *ifname);
/* Local date and time as "YYYY-MM-DD hh:mm:ss AM" (12-hour clock) copied into `buf` (BRIM_CREATE_TIME_SIZE bytes hold
 * any line, 23 the date); returns `buf`, or NULL when date could not start (`buf` untouched). */
BRIM_API char *get_Create_Time(char *buf);

/* Stops the firmware's daemons, in a fixed order, each with "killall -9". */
BRIM_API void killSomeDaemon(void);
/* Signals and stops udhcpd (by /var/run/udhcpd.pid), stops the daemons, runs killsh.sh, then forks
 * a child that closes descriptors above 2, sleeps 1 s and runs "init.sh gw <arg>". Returns the
 * child's pid (the caller reaps it), or -1 when no child could be made or `arg` is not a plain
 * argument (letters, digits, blanks and "_-.,:=/", at most 244 characters: nothing is run then). */
BRIM_API int run_init_script(const char *arg);
/* The number on the first line of a pid file; -1 when it does not exist, or when it cannot be
 * opened (after "Read pid file error!" on stderr). An empty file gives 0. */
BRIM_API int getPid(const char *path);

/* ------------------------------------------------------------------------------------------
 * Files and digests (brimlib/files/)
 * ---------------------------------------------------------------------------------------- */

/* Path tests: 1 or 0, and 0 whenever the path cannot be examined. */
BRIM_API int isFileExist(const char *path);  /* exists (follows links) */
BRIM_API int f_exists(const char *path);     /* exists and is not a directory */
BRIM_API int f_file_exist(const char *path); /* is a regular file */
BRIM_API int d_exist(const char *path);      /* is a directory */
BRIM_API int l_exist(const char *path);      /* is itself a symbolic link (lstat) */
/* Size in bytes, or -1 when the path cannot be examined. */
BRIM_API int32_t f_size(const char *path);

/* f_write flag bits. */
#define WRITE_FLAG_APPEND 1  /* append (create when missing); without it: create or truncate */
#define WRITE_FLAG_NEWLINE 2 /* write one newline after the data */
/* Writes `len` bytes of `data` (may be NULL) to `path`, with the file-creation mask cleared for
 * the call, so a created file gets exactly `mode` (0 means 0666). Returns the bytes written
 * (+1 for the newline), -1 when the file cannot be opened; without data -1, or 0 when the newline
 * was written. A short or failed data write returns its count (or -1) and writes no newline. */
BRIM_API int f_write(const char *path, const void *data, int len, int flags, unsigned int mode);
/* One read of up to `len` bytes at byte `offset` into `buf` (no terminator added). Returns what
 * the read returned (0 at or past the end), -1 when the file cannot be opened. */
BRIM_API int f_read(const char *path, void *buf, int offset, int len);
/* Marker-file lock: takes it by creating `path` (mode 0400, under the umask) exclusively.
 * 1 when taken; 0 when the file is already there or cannot be created. */
BRIM_API int lock_file(const char *path);
/* Removes the lock file; always 1. */
BRIM_API int unlock_file(const char *path);
/* Writes `line` unchanged (no newline added) to `path`: mode 1 creates/truncates (0666 under the
 * umask), mode 2 appends to an existing file. 1 on success; 0 when the file cannot be opened
 * (after "Create <path> error!\n" on stderr) or for any other mode. */
BRIM_API int write_line_to_file(const char *path, int mode, const char *line);

/* Stream readers over a stream the caller opened: bytes from its position into `buf`, from the
 * start, with no terminator (clear the buffer first) and no bound (size it for the longest
 * text). The line readers stop after a newline (consumed, not stored) or at end of file;
 * ReadAllFile stores newlines too and stops at end of file only. A NULL stream reads nothing. */
BRIM_API void nsqreadline(char *buf, FILE *fp);
BRIM_API void nullReadline(char *buf, FILE *fp);
BRIM_API void ReadAllFile(char *buf, FILE *fp);
/* Reads the whole file into `buf` and ends the text in place of its last byte (the final line
 * end, if any). `buf` must hold the file's size + 1. Returns the text length, or -1 with `buf`
 * untouched when the file cannot be opened. */
BRIM_API int getStrFromFile(const char *path, char *buf);
/* getStrFromFile of "/tmp/<name>"; -1 (buf untouched) also when the path would exceed 63
 * characters. */
BRIM_API int getStrFromTmp(const char *name, char *buf);
/* The number (as atoi reads it) at the start of the first line of "/tmp/<name>"; 0 when there is
 * none, the file cannot be opened or the path would exceed 63 characters. */
BRIM_API int getValFromTmp(const char *name);
/* The update flag in /tmp/update_flag: get returns 1 set, 0 clear (also when missing); set and
 * clear rewrite the file through the shell and return BrimSystem's result. */
BRIM_API int get_vz_update_flag(void);
BRIM_API int set_vz_update_flag(void);
BRIM_API int clear_vz_update_flag(void);

/* MD5 (RFC 1321) over a caller-owned context; contexts are independent of each other. */
typedef struct {
  uint32_t state[4];
  uint32_t count[2];        /* message length in bits, modulo 2^64, low word first */
  unsigned char buffer[64]; /* the block being gathered */
} MD5_CTX;
BRIM_API void MD5Init(MD5_CTX *ctx);
BRIM_API void MD5Update(MD5_CTX *ctx, const void *data, uint32_t len);
/* Writes the 16-byte digest and wipes the context (MD5Init before reusing it). */
BRIM_API void MD5Final(unsigned char digest[16], MD5_CTX *ctx);
/* Writes the lower-case hex MD5 digest of the file at `path` into `out` (BRIM_MD5_TEXT_SIZE bytes),
 * through md5sum and /tmp/md5_sum (left in place). Always returns 0; the text is empty when the
 * file cannot be digested or the path is longer than 214 characters. Not reentrant. */
BRIM_API int Cal_file_md5(const char *path, char *out);

/* ------------------------------------------------------------------------------------------
 * Configuration store (brimlib/config/)
 * ---------------------------------------------------------------------------------------- */

/* The wireless selection that the store resolves wireless items against: radio 0..1, slot 0..5. */
BRIM_API extern int32_t wlan_idx;
BRIM_API extern int32_t vwlan_idx;

/* apmib_update(type); when it succeeds and `type` has bit 4 set, also save_vz_to_file().
 * Returns apmib_update's result (0 on failure). */
BRIM_API int apmib_update_web(int type);
/* Write the configured LAN address / netmask (items 170 / 171) as dotted quad into `buf`
 * (BRIM_IPV4_TEXT_SIZE bytes) and return `buf`. */
BRIM_API char *getLanIp(char *buf);
BRIM_API char *getLanNetmask(char *buf);

/* Operation modes (item 192). */
#define OPMODE_GATEWAY 0
#define OPMODE_BRIDGE 1
#define OPMODE_WIRELESS_WAN 2
/* WAN connection types (item 104). 3, 4, 6 and 16 run over PPP ("ppp0"). */
#define WAN_STATIC 0
#define WAN_DHCP 1
#define WAN_PPPOE 3
#define WAN_PPTP 4
#define WAN_L2TP 6
#define WAN_3G 16

/* Operation mode (item 192) / DHCP setting (item 173) as stored; the read is not checked. */
BRIM_API int getOperationMode(void);
BRIM_API int getDhcp(void);
/* Writes "STATIC", "DHCP", "PPPOE", "PPTP", "L2TP" or "3G" for the WAN type (item 104) into
 * `buf` (BRIM_WAN_CONNECT_MODE_SIZE bytes); any other type leaves `buf` exactly as it was. */
BRIM_API void getWanConnectMode(char *buf);
/* Writes the WAN interface name into `name` (BRIM_WAN_IFNAME_SIZE bytes; pass it zeroed): "ppp0" for the
 * PPP types in every mode, else "wlan<item 193>-vxd" in mode 2, else "eth1". When item 104, 192
 * or 193 cannot be read, `name` is left untouched. */
BRIM_API void getWanIfName(char *name);
/* Wireless interface selection. Names are "wlanR", "wlanR-vaN" or "wlanR-vxd" (R radio 0..1;
 * the first four characters are not examined). Sets wlan_idx = R and vwlan_idx = slot: root 0,
 * -vaN -> N + 1, -vxd -> 5 (the slot -va4 shares). Returns 1 when selected. A bad radio number
 * (or a null name, or one shorter than 4 characters) prints "invalid wlan interface index number!"
 * on stdout, changes nothing and returns 0; a bad -va number (not 0..4) prints "invalid virtual
 * wlan interface index number!" and returns 0 with radio R's root interface selected. Names too
 * short for a suffix, or with another suffix, select the root interface. */
BRIM_API int SetWlan_idx(const char *ifname);

/* Security readers. Each first selects `ifname` with SetWlan_idx, ignoring a rejection (the
 * previous selection is then read), and leaves the selection changed. A value the store cannot
 * supply counts as 0. The text readers return a static buffer of their own, overwritten by their
 * next call. */
/* Item 22: 0 = interface enabled, 1 = disabled. */
BRIM_API int getWirelessOnOff(const char *ifname);
/* Band bits (item 74) as a mode number: 1->1, 2->4, 3->0, 4->2, 8->6, 12->8, 64/68/72/76->14,
 * 75->75, anything else 9. */
BRIM_API int getWirelessMode(const char *ifname);
/* Key text (buffer of 100 bytes): the WPA passphrase for the WPA modes; for WEP the default key
 * as lower-case hex digits (format 1) or as text up to its first zero byte; "" otherwise. */
BRIM_API char *getWirelessKey(const char *ifname);
/* Encryption token (8 bytes): "NONE", "WEP64"/"WEP128", "TKIP", "AES" or "TKIPAES". */
BRIM_API char *getEncrypType(const char *ifname);
/* Authentication token (16 bytes): "NONE", "OPEN"/"SHARED" (WEP), "WPAPSK", "WPA2PSK" or
 * "WPAPSKWPA2PSK". */
BRIM_API char *getAuthMode(const char *ifname);
/* The same in the repeater vocabulary: with WEP the encryption token is "OPEN"/"SHARED"
 * (8 bytes) and the authentication token "WEP" (16 bytes). */
BRIM_API char *getRptEncrypType(const char *ifname);
BRIM_API char *getRptAuthMode(const char *ifname);

/* WPS settings before (wps_config_info, with change_kind) and after (wps_config_info_tmp) a
 * wireless change; filled by the handler, only read by update_wps_configured. */
typedef struct WpsConfigInfo {
  int32_t change_kind;    /* 1 basic, 2 WEP, 3 WPA, 4 WEP authentication, other: security */
  int32_t basic_mode;
  int32_t encryption;     /* as item 25: 0 none, 1 WEP, 2 WPA, 4 WPA2, 6 mixed */
  int32_t authentication; /* WEP: 0 open, 1 shared, 2 either; WPA modes: bit 2 = pre-shared key */
  int32_t wep_option;
  int32_t wpa_cipher;     /* 1 TKIP, 2 AES, other both */
  int32_t wpa2_cipher;
  char ssid[33];          /* up to 32 bytes and the terminator */
  int32_t wep_key_option;
  uint8_t wep64_keys[4][5];
  uint8_t wep128_keys[4][13];
  char psk[65];           /* passphrase of up to 64 characters and the terminator */
} WpsConfigInfo;
BRIM_API extern WpsConfigInfo wps_config_info;
BRIM_API extern WpsConfigInfo wps_config_info_tmp;
/* Writes the WPS items of the selected interface to follow the change: kind 1 the SSID when it
 * or basic_mode changed; kind 4 the authentication type when WEP moves between open-capable
 * and shared; other kinds the authentication and encryption types, the passphrase for the WPA
 * modes with a pre-shared key, and item 281 = 0 when `clear_flag` is non-zero. When a kind 1, 2,
 * 3 or 4 change matters, clears item 281 and, if the interface was not yet WPS-configured, marks
 * it and the same slot of the other radio configured; wlan_idx is restored. Nothing is
 * committed (apmib_update is the caller's). */
BRIM_API void update_wps_configured(int clear_flag);

/* ------------------------------------------------------------------------------------------
 * Network status (brimlib/net/)
 * ---------------------------------------------------------------------------------------- */

/* Selectors of getInAddr. */
#define IFADDR_IP 2
#define IFADDR_NETMASK 4
#define IFADDR_HWADDR 8

/* Interface names must be at most 15 characters; longer names are refused as a missing
 * interface would be (never cut to a different name). Every call asks the kernel afresh. */

/* After checking that `ifname` exists (SIOCGIFFLAGS; a down interface passes), writes into
 * `result` (BRIM_IPV4_TEXT_SIZE bytes): IFADDR_IP / IFADDR_NETMASK the dotted-quad text; IFADDR_HWADDR the
 * 16-byte struct sockaddr record (family, then address bytes). Returns 1 when `result` was
 * written, 0 otherwise (no such interface, no address, other selector): `result` is then untouched. */
BRIM_API int getInAddr(const char *ifname, int which, void *result);
/* Dotted-quad IPv4 address of `ifname` into `ip` (BRIM_IPV4_TEXT_SIZE bytes). 0 on success, -1 on failure. */
BRIM_API int getIfIp(const char *ifname, char *ip);
/* MAC of `ifname` as "%02X:%02X:%02X:%02X:%02X:%02X" (upper case) into `mac` (BRIM_MAC_TEXT_SIZE bytes).
 * 0 on success, -1 on failure. */
BRIM_API int getIfMac(const char *ifname, char *mac);
/* Address / netmask of the WAN interface (getWanIfName): a static buffer of the function's own,
 * overwritten by its next call, or the fixed text "0.0.0.0" on any failure. */
BRIM_API const char *getWanIp(void);
BRIM_API const char *getWanNetmask(void);
/* MAC text of the WAN interface (of "eth1" when the WAN is "ppp0"): static buffer, or "" on
 * failure. */
BRIM_API const char *getWanMac(void);
/* MAC text of "br0": static buffer, or NULL on failure (test for it). */
BRIM_API const char *getLanMac(void);

/* Time since boot as "days;hours;minutes;seconds". Static buffer, overwritten by the next call. */
BRIM_API char *getSysUptime(void);
/* Combined size of flash partitions mtd0..mtd2 in MiB (rounded down), from /proc/mtd via
 * /tmp/FlashSize; 0 when the listing cannot be read. Not reentrant. */
BRIM_API unsigned int getFlashSize(void);
/* Switch port links from /proc/rtl865x/port_status (via /tmp/port_status, left in place), as
 * "1,0,0,0,1," (1 = link up), for up to 32 ports. Static buffer, overwritten by the next call;
 * NULL when the listing cannot be opened. Not reentrant. */
BRIM_API char *getPortLinkStaus(void);

/* One record of the DHCP server's lease data: 92 bytes, no padding, on every target. */
typedef struct {
  uint8_t chaddr[16];    /* client hardware address; first 6 bytes are the MAC; all zero: unused */
  uint32_t yiaddr;       /* leased IPv4 address, network byte order */
  uint32_t expires;      /* lease time, big-endian; 0: unused; 0xFFFFFFFF: no expiry */
  char hostname[56];     /* not necessarily terminated */
  char hostname_len[12]; /* decimal text; 0 or no digits: no host name known */
} DhcpLeaseRecord;
/* Consumes one record at *cursor (advancing it and *left by 92). Returns -1 when fewer than 92
 * bytes are left (nothing consumed or written), 0 for an unused record (nothing written), 1 after
 * writing `ip`, `mac` ("%02X:..."), `lease` ("MM_Always" or the seconds, cut to 9 digits) and
 * `host` (buffers of the BRIM_LEASE_*_SIZE bytes; the host at most the 56-byte name field, or "Unknown"). */
BRIM_API int getOneDhcpClient(char **cursor, uint32_t *left, char *ip, char *mac, char *lease, char *host);

/* Traffic counters of one interface, as getStats fills them from /proc/net/dev: 120 bytes, no
 * padding, on every target. Fields getStats does not name (spare_*) are never written. */
typedef struct NetDevStats {
  uint64_t rx_packets;
  uint64_t tx_packets;
  uint64_t rx_bytes;
  uint64_t tx_bytes;
  uint32_t rx_errors;
  uint32_t tx_errors;
  uint32_t rx_dropped;
  uint32_t tx_dropped;
  uint32_t rx_multicast;
  uint32_t spare_a[5];
  uint32_t rx_compressed;
  uint32_t tx_compressed;
  uint32_t collisions;
  uint32_t spare_b[3];
  uint32_t rx_frame_errors;
  uint32_t rx_fifo_errors;
  uint32_t spare_c[2];
  uint32_t tx_carrier_errors;
  uint32_t tx_fifo_errors;
} NetDevStats;

/* Kernel tables. Each call reads its file afresh; nothing is cached. Lines longer than the
 * kernel ever writes are skipped whole, and words are never cut to fit a field. */

/* Counters of `ifname` (exact name; aliases as "eth0:1") from /proc/net/dev. The file's layout
 * decides what is written: with "compressed" in the second header line all sixteen counters;
 * with "bytes" but not "compressed" thirteen, rx_multicast = 0 and rx/tx_compressed untouched;
 * with neither eleven, and rx_bytes = tx_bytes = rx_multicast = 0. Counters missing from the
 * line keep their content; a 32-bit field keeps the low 32 bits of a larger number. Returns 0;
 * -1 with `stats` untouched when the interface is not listed, or when the file cannot be opened
 * (after "Warning: cannot open /proc/net/dev\n" on stdout). */
BRIM_API int getStats(const char *ifname, NetDevStats *stats);
/* The lower-case MAC text the ARP table holds for `ip` (exact dotted-quad text) into `mac`
 * (BRIM_MAC_TEXT_SIZE bytes): "00:00:00:00:00:00" when there is no entry (or its address does not fit 17
 * characters), "" when /proc/net/arp cannot be opened. */
BRIM_API void arplookup(const char *ip, char *mac);
/* Gateway (network byte order) of the first route of `ifname` that is up and goes through a
 * gateway, whatever its destination, into *gateway. 1 when found; 0 when none (*gateway
 * untouched); -1 when /proc/net/route cannot be opened (after "Open /proc/net/route file
 * error.\n" on stdout). */
BRIM_API int getDefaultRoute(const char *ifname, uint32_t *gateway);
/* Dotted-quad gateway of the WAN interface (getWanIfName) in inet_ntoa's static buffer,
 * overwritten by the next inet_ntoa; "0.0.0.0" when there is none or the table cannot be read. */
BRIM_API const char *getWanGateway(void);
/* Gateway of the first up default route as dotted quad into `gw` (BRIM_IPV4_TEXT_SIZE bytes); "" when that route
 * has no gateway, when there is no up default route or the table cannot be opened. A routing
 * line that cannot be read stops the search and leaves `gw` as it was. */
BRIM_API void getRealGateway(char *gw);
/* The n-th (from 1) name server of /etc/resolv.conf, or of /etc/resolv.dnsmasq.conf only when
 * /etc/resolv.conf cannot be opened. Servers longer than 15 characters (IPv6) are passed over
 * and not counted. A static 16-byte buffer, overwritten by the next call that finds a server;
 * "0.0.0.0" (a fixed text) when there are fewer than n servers, n < 1 or neither file opens. */
BRIM_API const char *getDns(int n);

/* The Ethernet driver's device-private request (SIOCDEVPRIVATE on an AF_INET datagram socket,
 * ifr_data pointing at the block): four words of the target's pointer width. */
#define ETH_CMD_GET_WAN_LINK 2000
typedef struct DevPrivateArgs {
  uintptr_t cmd;        /* ETH_CMD_GET_WAN_LINK */
  uintptr_t self;       /* address of this block */
  uintptr_t zero;       /* 0 */
  uintptr_t link_state; /* address of an int32_t: the driver writes 0 for link, < 0 for none */
} DevPrivateArgs;

/* 1 when /etc/ppp/link exists, else 0. */
BRIM_API int isConnectPPP(void);
/* 1 when the WAN interface holds an IPv4 address and /etc/udhcpc/udhcpc-<wan>.pid names a
 * process number above 0 (whether it still runs is not tested), else 0. */
BRIM_API int isDhcpClientExist(void);
/* Link state of the wired port `ifname` from its driver: 0 link, negative none. -1 when the
 * name does not fit 15 characters, or the socket or the request fails (after perror of
 * "fatal error socket\n" or "device ioctl:"). */
BRIM_API int get_wan_link_status(const char *ifname);
/* Whether the WAN connection is up: 1 or 0. Operation mode 0 asks the link of "eth1" first, then
 * by WAN type: static needs link; DHCP link and isDhcpClientExist; PPPoE/PPTP/L2TP link and
 * isConnectPPP; any other type 0. checkEthStatus in the other modes: isDhcpClientExist.
 * checkWanStatus in mode 2: the same table with the repeater "wlan<item 193>-vxd" connected as
 * the link; in other modes 0. Unreadable items count as mode 0, type 2, repeater 0. */
BRIM_API int checkEthStatus(void);
BRIM_API int checkWanStatus(void);
/* How long the WAN has been up, from the seconds in /var/wanconnect, as "days;hours;minutes;
 * seconds" ("1;0;0;0" for 86400) into `buf` (BRIM_WAN_LINKTIME_SIZE bytes): exact below 10 days;
 * from 10 days on the text stays at "9;23;59;59", the longest that fits.
 * "0;0;0;0" when the WAN is down (mode 0: "eth1" link state exactly 0; mode 2: either repeater
 * connected; other modes: always down). When the file cannot be opened, prints "open file
 * error\n" on stdout and leaves `buf` untouched. */
BRIM_API void getWanLinktime(char *buf);
/* "connected" when checkWanStatus() is 1, else "disconnected", into `buf` (BRIM_WAN_CONNECT_STATUS_SIZE bytes). */
BRIM_API void get_wan_connect_status(char *buf);

/* ------------------------------------------------------------------------------------------
 * Wireless driver (brimlib/wireless/)
 * ---------------------------------------------------------------------------------------- */

/* The wireless driver's private requests (Wireless Extensions numbering, all read requests on an
 * AF_INET datagram socket; data through iwreq.u.data.pointer/length, flags 0). */
enum {
  SIOC_WL_STA_INFO = 0x8B30,    /* StaInfoTable, 3120 bytes */
  SIOC_WL_STA_NUM = 0x8B31,     /* station count, uint16_t */
  SIOC_WL_SCAN_REQ = 0x8B33,    /* one status byte */
  SIOC_WL_SCAN_RESULT = 0x8B34, /* SiteSurveyBuffer: 11268 bytes, or its first byte only */
  SIOC_WL_JOIN_RESULT = 0x8B36, /* one result byte */
  SIOC_WL_BSS_INFO = 0x8B37     /* BssInfoRecord, 44 bytes */
};

/* Records the driver fills; their layout beyond the fields named here is the driver's own. */
typedef struct StaInfoTable {
  uint8_t bytes[3120];
} StaInfoTable;
typedef struct SiteSurveyBuffer {
  uint8_t bytes[11268]; /* bytes[0] set by the caller: 0 = fetch it all, else the first byte only */
} SiteSurveyBuffer;
typedef struct BssInfoRecord {
  uint8_t state;      /* connection state; 4 = connected */
  uint8_t driver1[8];
  uint8_t rssi;       /* received signal strength of the link */
  uint8_t driver2[34];
} BssInfoRecord;

struct iwreq; /* <linux/wireless.h> */

/* Interface names must be plain: 1 to 15 letters, digits, '.', '_' or '-' (not leading). Any
 * other name never reaches the driver or a shell: queries give -1, takeEffectWlan does nothing. */

/* Copies `ifname` (terminated) into `wrq` and issues ioctl(skfd, request, wrq); the data
 * descriptor is used as the caller set it. The ioctl's result; -1 with errno EINVAL for a name
 * that is not plain or a null `wrq` (nothing issued). */
BRIM_API int iw_get_ext(int skfd, const char *ifname, int request, struct iwreq *wrq);

/* The queries below open their own socket, check that the interface is wireless (SIOCGIWNAME),
 * issue one private request and close the socket. 0 on success, -1 on any failure (bad name, no
 * socket, not wireless, driver refused; null out-pointer); nothing is printed. */

/* Clears `table` and lets the driver fill it. On -1 the contents are unspecified. */
BRIM_API int getWlStaInfo(const char *ifname, StaInfoTable *table);
/* Number of associated stations, 0 to 65535, or -1. */
BRIM_API int getStaAssociatedNum(const char *ifname);
/* Starts a site survey; on 0, *status receives the driver's byte (255 is stored as -1). On -1
 * *status is untouched. */
BRIM_API int getWlSiteSurveyRequest(const char *ifname, int32_t *status);
/* Fetches the survey into `buf`: all 11268 bytes when buf->bytes[0] is 0, else the first byte. */
BRIM_API int getWlSiteSurveyResult(const char *ifname, SiteSurveyBuffer *buf);
/* The driver's join result byte into *result. */
BRIM_API int getWlJoinResult(const char *ifname, unsigned char *result);
/* The association record of the interface into *info. */
BRIM_API int getWlBssInfo(const char *ifname, BssInfoRecord *info);
/* Signal strength of the interface's link (record byte 9), 0 to 255; 0 when the query fails. */
BRIM_API int getRptStaAndRssi(const char *ifname);
/* Repeater link state: 1 connected (state 4); 0 for states 0, 1, 3; -1 for states 2, 5 and above
 * and whenever the query fails. Only 1 means the link is up. */
BRIM_API int getRepeaterStatus(const char *ifname);

/* Makes the stored settings of wireless interface `name` take effect: reloads it with "flash
 * set_mib" and cycles it; with `restart` non-zero also rebuilds the bridge's wireless list,
 * restarts the wireless applications and UPnP (waits 2 s) and, in OPMODE_WIRELESS_WAN, repairs the
 * default route or renews the DHCP lease; finally takes the interface down when it is disabled,
 * and the radio's repeater interface when that is switched off. Command results are not checked.
 * Leaves the wlan_idx/vwlan_idx selection on `name`. Not for concurrent use with any selection. */
BRIM_API void takeEffectWlan(const char *name, int restart);

/* ------------------------------------------------------------------------------------------
 * Management messages (brimlib/messages/)
 * ---------------------------------------------------------------------------------------- */

/* Field `var` of the request object as text: a string member's own text (owned by `object`);
 * "1" / "0" for true / false; a number's integer value as "%d" in ONE process-wide static buffer
 * that the next number conversion overwrites; `defaultGetValue` (returned as passed) when the
 * member is missing, null, an array or an object. A null or empty `var` is a programming error:
 * the process aborts with "var && *var" reported, in every build type. */
BRIM_API const char *websGetVar(cJSON *object, const char *var, const char *defaultGetValue);

/* Replies go to the request topic followed by "/R" (request topics of at most 253 characters),
 * QoS 0, not retained, payload without its terminator. */

/* Publishes `value` unchanged (an empty or NULL text as a zero-length message). Returns
 * mosquitto_publish's result; MOSQ_ERR_INVAL without publishing when the topic is NULL or too long. */
BRIM_API int websGetCfgResponse(struct mosquitto *mosq, const char *topic, const char *value);
/* Publishes the cJSON_Print text of {"success": false, "error": msg}. Nothing is published for a
 * topic that is too long; the publish result is dropped. */
BRIM_API void websErrorResponse(struct mosquitto *mosq, const char *topic, const char *msg);
/* Publishes the cJSON_Print text of {"success": true, "error": null, "lan_ip": ..., "wtime": wtime,
 * "reserv": reserv}; "lan_ip" is the live address of "br0" ("" when it has none) in bridge mode,
 * else the configured LAN address. Same topic rule as websErrorResponse. */
BRIM_API void websSetCfgResponse(struct mosquitto *mosq, const char *topic, const char *wtime,
                                 const char *reserv);
/* Calls vz_pub(a, b, c, d) (topic, payload, payload length, QoS) and returns 0 whatever it returns. */
BRIM_API int safe_vz_pub(intptr_t a, intptr_t b, intptr_t c, intptr_t d);
/* The request a dispatcher is serving, around the call of its handler: its topic and its MQTT 5
 * properties (NULL for none), both borrowed until brim_request_end. While it is set, every reply
 * above to that topic is also published on the request's Response Topic, when it names one, with its
 * Correlation Data, QoS 0: standard MQTT 5 request/response clients get their answer. */
BRIM_API void brim_request_begin(const char *topic, const mosquitto_property *props);
BRIM_API void brim_request_end(void);

/* Append member name/value to the escaped flat JSON object text in `root` (which the caller
 * sizes; start with ""). Every double quote of the text is preceded by a backslash, e.g.
 * {\"ip\":\"1.2.3.4\",\"mode\":\"2\"}; numbers are written as strings. A " \ or control character
 * in a name or value is escaped so that the text, decoded once as a JSON string, is a JSON object
 * with exactly the given members. Returns 0 when appended; -1 (root unchanged) for a NULL
 * argument or a member whose text exceeds 127 bytes (name + value > 116 characters when plain). */
BRIM_API int addInfoToroot(char *root, const char *name, const char *value);
BRIM_API int addNumInfoToroot(char *root, const char *name, int32_t value);

/* For each i < count, read item ids[i] and add it to `object` as member names[i] (appended, never
 * replacing): IP as a dotted-quad string ("0.0.0.0" when unreadable), Str as a string ("" when
 * unreadable), Int as a number (an unreadable item repeats the previous value, 0 at first).
 * count <= 0 does nothing. Always return 0. */
BRIM_API int getCfgArrayIP(cJSON *object, int32_t count, const char *const *names, const int32_t *ids);
BRIM_API int getCfgArrayStr(cJSON *object, int32_t count, const char *const *names, const int32_t *ids);
BRIM_API int getCfgArrayInt(cJSON *object, int32_t count, const char *const *names, const int32_t *ids);

/* Handler hooks, registered by name; the dispatcher walks the list from first_brim_hook. */
typedef void (*brim_handler_fn)(struct mosquitto *mosq, const char *topic, cJSON *request);
struct brim_hook {
  struct brim_hook *next; /* NULL in the last record */
  char *name;             /* heap copy owned by the record */
  brim_handler_fn handler;
};
/* Head of the list in registration order; NULL while empty. Records are never freed. */
BRIM_API extern struct brim_hook *first_brim_hook;
/* Empties the list (records registered before are neither freed nor changed). */
BRIM_API void hook_list_init(void);
/* Appends a record {name copy, handler} at the end (duplicates allowed) and returns it. Ends the
 * process with status 1 for a NULL name or when memory runs out. */
BRIM_API struct brim_hook *brim_hook_register(const char *name, brim_handler_fn handler);
/* Heap copy of `s` that the caller frees; ends the process with status 1 for NULL or no memory. */
BRIM_API char *safe_strdup(const char *s);
/* Dispatch (the subscriber that vz_sub starts): at start it dlopen()s every "*.so" of one module
 * directory (BRIM_MODULE_DIR, else <libdir>/brim/modules of the prefix the build was configured
 * with: /usr/lib/brim/modules on a router) in name order; a module registers its hooks from a
 * constructor. A message on topic T goes to the first hook named like T's LAST level
 * ("home/dev1/status" -> "status") with (client, T, request object), and the request is freed
 * after the handler returns: copy what you keep. The handler answers on T + "/R" with the reply
 * functions. Never dispatched: topics ending in "/R", topics over 253 characters (no reply fits).
 * Answered with websErrorResponse instead: an empty body, a body over 64 KiB, a body that is not
 * one JSON object, a name with no hook (naming modules that failed to load). */

/* ------------------------------------------------------------------------------------------
 * Text utilities (brimlib/text/)
 * ---------------------------------------------------------------------------------------- */
/* All of these are pure: no state, no allocation, nothing printed; they touch only the buffers
 * passed in. */

/* 1 when the low 8 bits of `c` are 0-9, A-F or a-f, else 0. */
BRIM_API int _is_hex(int c);
/* Splits `src` at every `delim` and writes field k, terminated, at dst + k * row_size; `dst` is a
 * block of rows * row_size bytes and nothing outside it is written. Empty fields count (leading,
 * doubled and trailing delimiters each make one). Returns the number of fields, or -1 when `src`
 * is empty or null, `dst` is null, rows or row_size is 0 or less, a field is longer than
 * row_size - 1 (its row then holds the first row_size - 1 characters) or there are more fields
 * than rows. Rows written before a failure keep their terminated contents. */
BRIM_API int splitString2Arr_v2(const char *src, char *dst, int rows, int row_size, char delim);
/* Writes the `count` bytes of `bin` as lower-case hex pairs into `out`, which must hold
 * 2 * count + 1 bytes; exactly that many are written. A count of 0 or less gives "". */
BRIM_API void convert_bin_to_str(const unsigned char *bin, int count, char *out);
/* Copies token `n` (1 to 4) of the ';'-separated `src` into `out` (BRIM_TOKEN_SIZE bytes are enough; only the
 * token and its terminator are written). Separators work as in strtok: runs count as one, leading
 * and trailing ones make no token. An empty or null source, one of 128 characters or more, n
 * outside 1..4 or too few tokens give "". Always returns 0. Tokenises with strtok_r, so it keeps
 * no tokenizer state and may run while another strtok walk is in progress. */
BRIM_API int checkVar(const char *src, int n, char *out);
/* Converts `text`, two hex digits per byte, into `out` for pair positions below `len`; `out` must
 * hold (len + 1) / 2 bytes. Returns 1 on success (also for len <= 0, writing nothing), 0 on a
 * non-hex character or when `text` ends first; bytes converted before the failure stay. An odd
 * `len` makes its last pair with the character after it (the terminator fails). Reads never go
 * past the text's terminator. */
BRIM_API int string_to_hex(const char *text, unsigned char *out, int len);
/* 1 when `text` is exactly "xx:xx:xx:xx:xx:xx" with hex digits of either case, else 0. */
BRIM_API int isMacValid(const char *text);
/* Copies field `index` (from 0) of `src`, fields separated by the single character `delim`, into
 * `out` of `len` bytes: at most len - 1 characters and a terminator (a longer field is cut). Empty
 * fields count. Returns 0, or -1 when src/out is null, len <= 0, index < 0 or `src` has fewer
 * than `index` delimiters (`out` is then untouched). */
BRIM_API int getNthValueSafe(int index, const char *src, char delim, char *out, int len);

#ifdef __cplusplus
}

/* In C++ a global named `tm` would hide `struct tm` from the C++ library headers; the same C
 * object is reachable as brim_globals::tm instead. */
namespace brim_globals {
extern "C" BRIM_API int32_t tm;
}
#endif

#endif /* BRIMLIB_H */
