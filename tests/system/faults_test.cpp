// Faults injected into the simulated router: store items that cannot be read, a file system that
// fills up, a broker that goes away or stops answering (the subscriber killed
// mid-request is in road_test, the firmware image without room in firmware_digest_test).
#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "brimlib.h"
#include "brimlib/config/item_ids.h"
#include "platform/apmib/store.h"
#include "tests/support/in_child.h"
#include "tests/support/mqtt_broker.h"
#include "tests/support/sandbox_env.h"

namespace {

using namespace brim_test;

template <class F>
void each_slot(const apmib::Item &item, F f) {  // f(radio, slot) for every slot of `item`
  for (int r = 0; r < (item.per_wlan ? apmib::kRadios : 1); ++r)
    for (int s = 0; s < (item.per_wlan ? apmib::kSlots : 1); ++s) f(r, s);
}

// Everything the store readers say, one line each. A text past its documented size shows as a
// "BROKEN" line.
std::string reader_snapshot() {
  std::string s;
  auto text = [&s](const std::string &name, const char *v, size_t cap) {
    s += !v ? name + " (null)\n" : ::strnlen(v, cap) >= cap ? "BROKEN " + name + ": not terminated\n" : name + " " + v + "\n";
  };
  // A caller's buffer of `cap` bytes, filled with `fill` and terminated (no overrun: caller_buffers_test).
  auto guarded = [&](const char *name, size_t cap, char fill, void (*call)(char *)) {
    char b[64] = {};
    std::memset(b, fill, cap - 1);
    call(b);
    text(name, b, cap);
  };
  guarded("getLanIp", 16, 0, [](char *b) { getLanIp(b); });
  guarded("getLanNetmask", 16, 0, [](char *b) { getLanNetmask(b); });
  guarded("getWanConnectMode", 7, 'k', [](char *b) { getWanConnectMode(b); });  // kept for a type without a name
  guarded("getWanIfName", 20, 0, [](char *b) { getWanIfName(b); });
  guarded("getWanLinktime", BRIM_WAN_LINKTIME_SIZE, 'u', [](char *b) { getWanLinktime(b); });  // kept when the uptime is unreadable
  guarded("get_wan_connect_status", 13, 0, [](char *b) { get_wan_connect_status(b); });
  for (int v : {getOperationMode(), getDhcp(), isDhcpClientExist(), checkEthStatus(), checkWanStatus()})
    s += std::to_string(v) + " ";
  for (const char *ifname : {"wlan0", "wlan1", "wlan0-va2", "wlan1-vxd"}) {
    std::string p = std::string(ifname) + " ";
    s += p + std::to_string(getWirelessOnOff(ifname)) + " " + std::to_string(getWirelessMode(ifname)) + "\n";
    text(p + "getWirelessKey", getWirelessKey(ifname), 100);
    text(p + "getEncrypType", getEncrypType(ifname), 8);
    text(p + "getAuthMode", getAuthMode(ifname), 16);
    text(p + "getRptEncrypType", getRptEncrypType(ifname), 8);
    text(p + "getRptAuthMode", getRptAuthMode(ifname), 16);
  }
  text("getWanIp", getWanIp(), 16);
  text("getWanNetmask", getWanNetmask(), 16);
  text("getWanMac", getWanMac(), 18);
  text("getWanGateway", getWanGateway(), 16);
  // The WPS items a wireless change writes, read back from the store it leaves (the reply
  // builders' reads of failing items are in config_values_test).
  SetWlan_idx("wlan0");
  std::memset(&wps_config_info, 0, sizeof wps_config_info);
  std::memset(&wps_config_info_tmp, 0, sizeof wps_config_info_tmp);
  wps_config_info.change_kind = 3;
  wps_config_info.encryption = 2;
  wps_config_info_tmp.encryption = 4;
  wps_config_info_tmp.authentication = 4;
  std::strcpy(wps_config_info_tmp.psk, "wps-passphrase");
  update_wps_configured(1);
  char path[] = "/tmp/brim_dump_XXXXXX";
  int fd = mkostemp(path, O_CLOEXEC);
  apmib::dump(fd);
  close(fd);
  s += "store " + read_file(path);
  unlink(path);
  return s;
}

std::string fresh_snapshot() {  // of a process that never read anything before
  return in_child([] { return apmib_init() ? reader_snapshot() : "<apmib_init failed>"; });
}

using Faults = SandboxTest;

// For every item, on two differently configured routers: reads of that item fail in every slot.
// The readers stay within their buffers, and say what a process that never saw the item would
// say: nothing is left over from an earlier read of a primed value.
TEST_F(Faults, StoreItemsFailingInTurn) {
  const std::string bases[] = {
      factory_store(), factory_store() + "OP_MODE = 2\nWAN_DHCP = 0\nWISP_WAN_ID = 1\nREPEATER_ENABLED2 = 1\n"
                                         "wlan0.WLAN_ENCRYPT = 1\nwlan0.WLAN_WEP = 2\nwlan0.WLAN_WEP_KEY_TYPE = 1\n"
                                         "wlan0.WLAN_WEP_DEFAULT_KEY = 1\nwlan0.WLAN_AUTH_TYPE = 1\nwlan1-vxd.WLAN_ENCRYPT = 6\n"
                                         "wlan1-vxd.WLAN_DISABLED = 0\n"};
  size_t count = 0;
  const apmib::Item *all = apmib::items(&count);
  ASSERT_GT(count, 20u);
  for (const std::string &base : bases) {
    for (size_t i = 0; i < count; ++i) {
      const apmib::Item &item = all[i];
      SCOPED_TRACE(std::string("item ") + item.name + (&base == &bases[0] ? " (factory)" : " (repeater, WEP)"));
      use_store(base);
      ASSERT_TRUE(apmib_init());
      uint8_t value[apmib::kMaxValue] = {};
      const uint8_t ip[4] = {10, 1, 2, 3};
      const int32_t twelve = 12;
      if (item.kind == apmib::Kind::Int) std::memcpy(value, &twelve, sizeof twelve);
      else if (item.kind == apmib::Kind::Ip) std::memcpy(value, ip, sizeof ip);
      else if (item.kind == apmib::Kind::Text) std::memcpy(value, "primed", 6);
      else std::memset(value, 0x5a, item.size);
      each_slot(item, [&](int r, int s) { wlan_idx = r, vwlan_idx = s, apmib_set(item.id, value); });
      wlan_idx = vwlan_idx = 0;
      std::string primed = reader_snapshot();
      ASSERT_EQ(primed.find("BROKEN"), std::string::npos) << primed;
      std::string unreadable;
      each_slot(item, [&](int r, int s) {
        char key[96];
        if (apmib::format_key(item, r, s, key, sizeof key) > 0) unreadable += std::string("!") + key + "\n";
      });
      use_store(base + unreadable);
      std::string fresh = fresh_snapshot();
      ASSERT_TRUE(apmib_init());
      EXPECT_EQ(fresh.find("BROKEN"), std::string::npos) << fresh;
      EXPECT_EQ(reader_snapshot(), fresh);
    }
  }
}

// A tmpfs of 64 KiB filled up to its last byte: writes report the short count, a store commit
// fails and leaves the last good file whole.
TEST_F(Faults, FullFileSystem) {
  const std::string dir = "/tmp/brim_small", path = dir + "/apmib.store", big = dir + "/big";
  mkdir(dir.c_str(), 0755);
  ASSERT_EQ(mount("brim-small", dir.c_str(), "tmpfs", 0, "size=65536,mode=1777"), 0) << std::strerror(errno);
  Restore gone{"umount -l " + dir};
  ASSERT_TRUE(write_file(path, factory_store()));
  setenv("APMIB_STORE", path.c_str(), 1);
  ASSERT_TRUE(apmib_init());
  const std::string committed = read_file(path);
  std::string data(100 * 1024, 'd');
  int n = f_write(big.c_str(), data.data(), static_cast<int>(data.size()), 0, 0);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(data.size()));
  EXPECT_EQ(read_file(big).size(), static_cast<size_t>(n)) << "the count is what the file holds";
  EXPECT_EQ(f_write(big.c_str(), "abc", 3, WRITE_FLAG_APPEND | WRITE_FLAG_NEWLINE, 0), -1);
  ASSERT_TRUE(apmib_set(MIB_HOST_NAME, const_cast<char *>("after-full")));
  EXPECT_EQ(apmib_update_web(4), 0) << "a commit that could not be written is a failure";
  EXPECT_EQ(read_file(path), committed) << "the last good store stays whole";
  unlink(big.c_str());
  EXPECT_EQ(f_write(big.c_str(), "abc", 3, WRITE_FLAG_NEWLINE, 0), 4) << "room again once freed";
  EXPECT_EQ(read_file(big), "abc\n");
}

// The stand-in's own publishing is platform code; here the library's replies on a lost connection.
TEST(BrokerFaults, RepliesWithTheBrokerGoneFail) {
  Broker broker;
  ASSERT_TRUE(broker.start());
  Client handler;
  ASSERT_TRUE(handler.connect(broker.port()));
  EXPECT_EQ(websGetCfgResponse(handler.handle(), "a/b", "{}"), MOSQ_ERR_SUCCESS);
  broker.stop();  // BRIM_MQTT_PORT still names its port: nothing listens there now
  EXPECT_EQ(safe_vz_pub(reinterpret_cast<intptr_t>("a/b"), reinterpret_cast<intptr_t>("x"), 1, 0), 0);  // by contract
  // The handler's connection learns of the loss on its next loop; publishing then fails.
  for (int i = 0; i < 50 && mosquitto_loop(handler.handle(), 20, 1) == MOSQ_ERR_SUCCESS; ++i) {
  }
  EXPECT_NE(websGetCfgResponse(handler.handle(), "a/b", "{}"), MOSQ_ERR_SUCCESS);
  websErrorResponse(handler.handle(), "a/b", "gone");  // drops the result; must simply return
}

}  // namespace
