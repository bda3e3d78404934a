// Wireless driver queries against the driver double (declared names) and the real kernel
// (everything else, e.g. "lo", which has no wireless extensions).
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/wireless_double.h"
#include "tests/unit/unit.h"

namespace wd = wireless_double;
namespace {

using V = std::vector<unsigned>;
V requests_for(const std::string &name) { V out; for (const wd::Seen &s : wd::log()) if (s.name == name) out.push_back(s.request); return out; }
std::vector<uint8_t> bss(uint8_t state, uint8_t rssi) { std::vector<uint8_t> r(44, 0x5A); r[0] = state, r[9] = rssi; return r; }

class DriverQuery : public ::testing::Test {
 protected:
  void SetUp() override { wd::reset(); fds_ = unit::open_fds(); }
  void TearDown() override {
    EXPECT_EQ(wd::violations(), std::vector<std::string>{}) << "the driver would have seen a bad request";
    EXPECT_EQ(unit::open_fds(), fds_) << "a socket was left open";
    wd::reset();
  }
  long fds_ = 0;
};

// Every query, with out-data prefilled so that changes show.
struct AllQueries {
  StaInfoTable table;
  SiteSurveyBuffer survey{};
  BssInfoRecord rec;
  int32_t status = 1234;
  unsigned char join = 0xEE;
  AllQueries() { std::memset(&table, 0xAA, sizeof table); std::memset(&rec, 0xAA, sizeof rec); }
  std::vector<int> run(const char *n) {
    return {getWlStaInfo(n, &table), getStaAssociatedNum(n), getWlSiteSurveyRequest(n, &status), getWlSiteSurveyResult(n, &survey),
            getWlJoinResult(n, &join), getWlBssInfo(n, &rec), getRepeaterStatus(n), getRptStaAndRssi(n) - 1};
  }
};

TEST_F(DriverQuery, NonWirelessInterfacesFailEveryQueryBeforeThePrivateRequest) {
  for (const char *name : {"lo", "nosuch0"}) {
    AllQueries q;
    EXPECT_EQ(q.run(name), std::vector<int>(8, -1)) << name;
    // Each query asked the real kernel whether the interface is wireless, and stopped there.
    EXPECT_EQ(requests_for(name), V(8, SIOCGIWNAME)) << name;
    EXPECT_EQ(wd::log().size(), 8u);
    EXPECT_EQ(q.status * 1000 + q.join, 1234 * 1000 + 0xEE);
    EXPECT_EQ(q.table.bytes[0], 0xAA) << "table cleared although nothing was asked";
    wd::reset();
  }
}

TEST_F(DriverQuery, EachQueryTestsThenAsksOnAFreshCloseOnExecDatagramSocket) {
  wd::Radio &r = wd::declare("wlan0-vxd");
  r.bss_info = bss(4, 60);
  r.sta_num = 3;
  EXPECT_EQ(getRepeaterStatus("wlan0-vxd") * 10 + getStaAssociatedNum("wlan0-vxd"), 13);
  EXPECT_EQ(requests_for("wlan0-vxd"), (V{SIOCGIWNAME, SIOC_WL_BSS_INFO, SIOCGIWNAME, SIOC_WL_STA_NUM}));
  for (const wd::Seen &s : wd::log()) EXPECT_TRUE(s.domain == AF_INET && s.type == SOCK_DGRAM && s.cloexec);
}

TEST_F(DriverQuery, SiteSurveyStatusByteAndResultExchange) {
  wd::Radio &r = wd::declare("wlan0");
  for (auto [byte, status] : {std::pair{255, -1}, {254, 254}, {0, 0}}) {  // the driver's "busy" 255 is -1
    int32_t got = 77;
    r.scan_status = static_cast<uint8_t>(byte);
    EXPECT_EQ(getWlSiteSurveyRequest("wlan0", &got), 0);
    EXPECT_EQ(got, status) << byte;
  }
  // The first byte chooses: 0 exchanges the whole buffer, anything else the first byte only.
  r.survey.assign(11268, 0);
  r.survey[0] = 9, r.survey[11267] = 0x42;
  SiteSurveyBuffer buf{};
  EXPECT_EQ(getWlSiteSurveyResult("wlan0", &buf), 0);
  EXPECT_EQ((V{unsigned(wd::log().back().length), buf.bytes[0], buf.bytes[11267]}), (V{11268, 9, 0x42}));
  std::memset(&buf, 0xCC, sizeof buf);
  buf.bytes[0] = 1;
  EXPECT_EQ(getWlSiteSurveyResult("wlan0", &buf), 0);
  EXPECT_EQ((V{unsigned(wd::log().back().length), buf.bytes[0], buf.bytes[1], buf.bytes[11267]}), (V{1, 9, 0xCC, 0xCC}));
  int32_t status = 77;
  r.fail[SIOC_WL_SCAN_REQ] = EBUSY;
  EXPECT_EQ(getWlSiteSurveyRequest("wlan0", &status), -1);
  EXPECT_EQ(status, 77) << "status changed by a failed request";
  EXPECT_EQ(getWlSiteSurveyRequest("wlan0", nullptr), -1);
}

TEST_F(DriverQuery, AssociationRecordStatesSignalAndFailure) {
  wd::Radio &r = wd::declare("wlan0-vxd");
  for (auto [state, want] : {std::pair{0, 0}, {1, 0}, {2, -1}, {3, 0}, {4, 1}, {5, -1}, {6, -1}, {200, -1}}) {  // only 4 is connected
    r.bss_info = bss(static_cast<uint8_t>(state), 10);
    EXPECT_EQ(getRepeaterStatus("wlan0-vxd"), want) << "state " << state;
  }
  r.bss_info = bss(4, 200);
  EXPECT_EQ(getRptStaAndRssi("wlan0-vxd"), 200);  // the unsigned ninth byte
  BssInfoRecord rec;
  ASSERT_EQ(getWlBssInfo("wlan0-vxd", &rec), 0);
  EXPECT_EQ(std::vector<uint8_t>(reinterpret_cast<uint8_t *>(&rec), reinterpret_cast<uint8_t *>(&rec + 1)), bss(4, 200));
  // A failed query after a connected one: never connected, never the stale signal.
  ASSERT_EQ(getRepeaterStatus("wlan0-vxd"), 1);
  r.fail[SIOC_WL_BSS_INFO] = EIO;
  EXPECT_EQ(getRepeaterStatus("wlan0-vxd") * 10 + getRptStaAndRssi("wlan0-vxd"), -10);
}

TEST_F(DriverQuery, StationTableCountAndJoinResult) {
  wd::Radio &r = wd::declare("wlan1-vxd");
  r.sta_info.assign(10, 0x11);  // this driver writes less than the whole table: the rest is cleared
  StaInfoTable table;
  std::memset(&table, 0xAA, sizeof table);
  EXPECT_EQ(getWlStaInfo("wlan1-vxd", &table), 0);
  EXPECT_EQ((V{unsigned(wd::log().back().length), table.bytes[9], table.bytes[10], table.bytes[3119]}), (V{3120, 0x11, 0, 0}));
  for (unsigned n : {0x8001u, 0xFFFFu}) {  // unsigned
    r.sta_num = static_cast<uint16_t>(n);
    EXPECT_EQ(getStaAssociatedNum("wlan1-vxd"), static_cast<int>(n));
  }
  r.join_result = 0xFE;
  unsigned char res = 0;
  EXPECT_EQ(getWlJoinResult("wlan1-vxd", &res), 0);
  EXPECT_EQ(res, 0xFE);
  r.fail[SIOC_WL_STA_NUM] = EOPNOTSUPP;
  r.fail[SIOC_WL_JOIN_RESULT] = EINVAL;
  EXPECT_EQ(getStaAssociatedNum("wlan1-vxd") + getWlJoinResult("wlan1-vxd", &res), -2);
}

TEST_F(DriverQuery, NamesThatAreNotPlainAndNullRecordsNeverReachTheDriver) {
  // Declared wireless, so a query that let them through would succeed. A 16-character name must
  // not be cut to the 15-character interface that exists.
  const std::string refused[] = {"wlan0;reboot", "$(reboot)", "`reboot`", "wlan0 x", "wlan0\nx", "-wlan0", "wlan0-vxd-abcdef", ""};
  for (const std::string &h : refused) wd::declare(h).bss_info = bss(4, 1);
  wd::declare("wlan0-vxd-abcde").bss_info = bss(4, 1);
  for (const std::string &h : refused) EXPECT_EQ(AllQueries().run(h.c_str()), std::vector<int>(8, -1)) << h;
  EXPECT_EQ(AllQueries().run(nullptr), std::vector<int>(8, -1));
  // Null out-pointers are refused without asking either, for a name that is wireless.
  wd::declare("wlan0");
  EXPECT_EQ((std::vector<int>{getWlStaInfo("wlan0", nullptr), getWlSiteSurveyResult("wlan0", nullptr),
                              getWlBssInfo("wlan0", nullptr), getWlJoinResult("wlan0", nullptr)}), std::vector<int>(4, -1));
  EXPECT_TRUE(wd::log().empty()) << wd::log().size() << " requests issued, first for \"" << wd::log()[0].name << "\"";
}

TEST_F(DriverQuery, RequestBlockHelper) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  struct iwreq wrq;
  std::memset(&wrq, 0x7F, sizeof wrq);  // the helper must terminate the name itself
  wd::declare("wlan1");
  EXPECT_EQ(iw_get_ext(fd, "wlan1", SIOCGIWNAME, &wrq), 0);
  EXPECT_EQ(std::string(wrq.ifr_name, IFNAMSIZ), std::string("wlan1") + std::string(IFNAMSIZ - 5, '\0'));
  errno = 0;  // the real kernel: "lo" exists but is not wireless
  EXPECT_EQ(iw_get_ext(fd, "lo", SIOCGIWNAME, &wrq), -1);
  EXPECT_NE(errno, 0);
  size_t before = wd::log().size();
  errno = 0;
  EXPECT_EQ(iw_get_ext(fd, "wlan1;id", SIOCGIWNAME, &wrq), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(iw_get_ext(fd, "wlan1", SIOCGIWNAME, nullptr), -1);
  EXPECT_EQ(wd::log().size(), before);
  close(fd);
  wd::declare("lo").fail[SIOCGIFHWADDR] = ENODEV;  // gone between the existence test and the address
  unsigned char hw[16];
  EXPECT_EQ(getInAddr("lo", IFADDR_HWADDR, hw), 0);
}

}  // namespace
