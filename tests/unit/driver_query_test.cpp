// Wireless driver queries against the driver double (declared names) and the real kernel
// (everything else, e.g. "lo", which has no wireless extensions).
#include <dirent.h>
#include <gtest/gtest.h>
#include <linux/wireless.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "brimlib.h"
#include "tests/support/wireless_double.h"

namespace wd = wireless_double;

namespace {

int open_fds() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

std::vector<unsigned> requests_for(const std::string &name) {
  std::vector<unsigned> out;
  for (const wd::Seen &s : wd::log())
    if (s.name == name) out.push_back(s.request);
  return out;
}

bool any_private_request() {
  for (const wd::Seen &s : wd::log())
    if (s.request != SIOCGIWNAME) return true;
  return false;
}

std::vector<uint8_t> bss(uint8_t state, uint8_t rssi) {
  std::vector<uint8_t> r(44, 0x5A);
  r[0] = state;
  r[9] = rssi;
  return r;
}

class DriverQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    wd::reset();
    fds_ = open_fds();
  }
  void TearDown() override {
    EXPECT_EQ(wd::violations(), std::vector<std::string>{}) << "the driver would have seen a bad request";
    EXPECT_EQ(open_fds(), fds_) << "a socket was left open";
    wd::reset();
  }
  int fds_ = 0;
};

// Every query, with out-data prefilled so that changes show.
struct AllQueries {
  StaInfoTable table;
  SiteSurveyBuffer survey;
  BssInfoRecord rec;
  int32_t status = 1234;
  unsigned char join = 0xEE;
  AllQueries() {
    std::memset(&table, 0xAA, sizeof table);
    std::memset(&survey, 0, sizeof survey);
    std::memset(&rec, 0xAA, sizeof rec);
  }
  std::vector<int> run(const char *name) {
    return {getWlStaInfo(name, &table),      getStaAssociatedNum(name),  getWlSiteSurveyRequest(name, &status),
            getWlSiteSurveyResult(name, &survey), getWlJoinResult(name, &join), getWlBssInfo(name, &rec),
            getRepeaterStatus(name)};
  }
};

TEST_F(DriverQuery, NonWirelessInterfacesFailEveryQueryBeforeThePrivateRequest) {
  for (const char *name : {"lo", "nosuch0"}) {
    AllQueries q;
    EXPECT_EQ(q.run(name), std::vector<int>(7, -1)) << name;
    EXPECT_EQ(getRptStaAndRssi(name), 0) << name;
    // Each query asked the real kernel whether the interface is wireless, and stopped there.
    EXPECT_EQ(wd::count(name, SIOCGIWNAME), 8) << name;
    EXPECT_FALSE(any_private_request()) << name;
    EXPECT_EQ(q.status, 1234);
    EXPECT_EQ(q.join, 0xEE);
    EXPECT_EQ(q.table.bytes[0], 0xAA) << "table cleared although nothing was asked";
    wd::reset();
  }
}

TEST_F(DriverQuery, EachQueryTestsThenAsksOnAFreshCloseOnExecDatagramSocket) {
  wd::Radio &r = wd::declare("wlan0-vxd");
  r.bss_info = bss(4, 60);
  r.sta_num = 3;
  EXPECT_EQ(getRepeaterStatus("wlan0-vxd"), 1);
  EXPECT_EQ(getStaAssociatedNum("wlan0-vxd"), 3);
  EXPECT_EQ(requests_for("wlan0-vxd"),
            (std::vector<unsigned>{SIOCGIWNAME, SIOC_WL_BSS_INFO, SIOCGIWNAME, SIOC_WL_STA_NUM}));
  for (const wd::Seen &s : wd::log()) {
    EXPECT_EQ(s.domain, AF_INET);
    EXPECT_EQ(s.type, SOCK_DGRAM);
    EXPECT_TRUE(s.cloexec);
  }
}

TEST_F(DriverQuery, SiteSurveyRequestStatusByte) {
  wd::Radio &r = wd::declare("wlan1");
  int32_t status = 77;

  r.scan_status = 255;  // the driver's "busy": reported as -1, and the call still succeeds
  EXPECT_EQ(getWlSiteSurveyRequest("wlan1", &status), 0);
  EXPECT_EQ(status, -1);

  r.scan_status = 254;
  EXPECT_EQ(getWlSiteSurveyRequest("wlan1", &status), 0);
  EXPECT_EQ(status, 254);

  r.scan_status = 0;
  EXPECT_EQ(getWlSiteSurveyRequest("wlan1", &status), 0);
  EXPECT_EQ(status, 0);

  status = 77;
  r.fail[SIOC_WL_SCAN_REQ] = EBUSY;
  EXPECT_EQ(getWlSiteSurveyRequest("wlan1", &status), -1);
  EXPECT_EQ(status, 77) << "status changed by a failed request";
  EXPECT_EQ(getWlSiteSurveyRequest("wlan1", nullptr), -1);
}

TEST_F(DriverQuery, SiteSurveyResultFirstByteChoosesTheExchange) {
  wd::Radio &r = wd::declare("wlan0");
  r.survey.assign(11268, 0);
  r.survey[0] = 9;
  r.survey[11267] = 0x42;

  SiteSurveyBuffer buf;
  std::memset(&buf, 0, sizeof buf);
  EXPECT_EQ(getWlSiteSurveyResult("wlan0", &buf), 0);
  EXPECT_EQ(buf.bytes[0], 9);
  EXPECT_EQ(buf.bytes[11267], 0x42) << "the whole buffer was not exchanged";
  EXPECT_EQ(wd::log().back().length, 11268);

  std::memset(&buf, 0xCC, sizeof buf);
  buf.bytes[0] = 1;
  EXPECT_EQ(getWlSiteSurveyResult("wlan0", &buf), 0);
  EXPECT_EQ(wd::log().back().length, 1);
  EXPECT_EQ(buf.bytes[0], 9);
  EXPECT_EQ(buf.bytes[1], 0xCC);
  EXPECT_EQ(buf.bytes[11267], 0xCC) << "more than the first byte was exchanged";
}

TEST_F(DriverQuery, RepeaterStateTable) {
  wd::Radio &r = wd::declare("wlan1-vxd");
  const int expected[] = {0, 0, -1, 0, 1, -1, -1};
  for (int state = 0; state <= 6; ++state) {
    r.bss_info = bss(static_cast<uint8_t>(state), 10);
    EXPECT_EQ(getRepeaterStatus("wlan1-vxd"), expected[state]) << "state " << state;
  }
  r.bss_info = bss(200, 10);
  EXPECT_EQ(getRepeaterStatus("wlan1-vxd"), -1);
}

TEST_F(DriverQuery, SignalStrengthIsTheUnsignedNinthByte) {
  wd::Radio &r = wd::declare("wlan0-vxd");
  r.bss_info = bss(4, 200);
  EXPECT_EQ(getRptStaAndRssi("wlan0-vxd"), 200);
  BssInfoRecord rec;
  ASSERT_EQ(getWlBssInfo("wlan0-vxd", &rec), 0);
  EXPECT_EQ(rec.state, 4);
  EXPECT_EQ(rec.rssi, 200);
  EXPECT_EQ(rec.driver1[0], 0x5A);
  EXPECT_EQ(rec.driver2[33], 0x5A);
}

TEST_F(DriverQuery, FailedAssociationQueryIsNeverConnectedNorAStaleSignal) {
  wd::Radio &r = wd::declare("wlan0-vxd");
  r.bss_info = bss(4, 90);
  ASSERT_EQ(getRepeaterStatus("wlan0-vxd"), 1);  // leaves a connected record on the stack
  ASSERT_EQ(getRptStaAndRssi("wlan0-vxd"), 90);
  r.fail[SIOC_WL_BSS_INFO] = EIO;
  EXPECT_EQ(getRepeaterStatus("wlan0-vxd"), -1);
  EXPECT_EQ(getRptStaAndRssi("wlan0-vxd"), 0);
}

TEST_F(DriverQuery, StationCountIsUnsigned) {
  wd::Radio &r = wd::declare("wlan0");
  r.sta_num = 0x8001;
  EXPECT_EQ(getStaAssociatedNum("wlan0"), 32769);
  r.sta_num = 0xFFFF;
  EXPECT_EQ(getStaAssociatedNum("wlan0"), 65535);
  r.fail[SIOC_WL_STA_NUM] = EOPNOTSUPP;
  EXPECT_EQ(getStaAssociatedNum("wlan0"), -1);
}

TEST_F(DriverQuery, StationTableIsClearedBeforeTheDriverFillsIt) {
  wd::Radio &r = wd::declare("wlan0-va0");
  r.sta_info.assign(10, 0x11);  // this driver writes less than the whole table
  StaInfoTable table;
  std::memset(&table, 0xAA, sizeof table);
  EXPECT_EQ(getWlStaInfo("wlan0-va0", &table), 0);
  EXPECT_EQ(table.bytes[9], 0x11);
  EXPECT_EQ(table.bytes[10], 0);
  EXPECT_EQ(table.bytes[3119], 0);
  EXPECT_EQ(wd::log().back().length, 3120);
}

TEST_F(DriverQuery, JoinResultByte) {
  wd::Radio &r = wd::declare("wlan1-vxd");
  r.join_result = 0xFE;
  unsigned char res = 0;
  EXPECT_EQ(getWlJoinResult("wlan1-vxd", &res), 0);
  EXPECT_EQ(res, 0xFE);
  r.fail[SIOC_WL_JOIN_RESULT] = EINVAL;
  EXPECT_EQ(getWlJoinResult("wlan1-vxd", &res), -1);
  EXPECT_EQ(getWlJoinResult("wlan1-vxd", nullptr), -1);
}

TEST_F(DriverQuery, NamesThatAreNotPlainNeverReachTheDriver) {
  // Declared wireless, so a query that let them through would succeed.
  const std::string hostile[] = {"wlan0;reboot", "$(reboot)", "`reboot`", "wlan0 x", "wlan0\nx", "-wlan0"};
  for (const std::string &h : hostile) wd::declare(h).bss_info = bss(4, 1);
  // A 16-character name must not be cut to the 15-character interface that exists.
  wd::declare("wlan0-vxd-abcde").bss_info = bss(4, 1);
  std::vector<std::string> refused(std::begin(hostile), std::end(hostile));
  refused.push_back("wlan0-vxd-abcdef");
  refused.push_back("");
  for (const std::string &h : refused) {
    AllQueries q;
    EXPECT_EQ(q.run(h.c_str()), std::vector<int>(7, -1)) << h;
    EXPECT_EQ(getRptStaAndRssi(h.c_str()), 0) << h;
  }
  AllQueries q;
  EXPECT_EQ(q.run(nullptr), std::vector<int>(7, -1));
  EXPECT_TRUE(wd::log().empty()) << wd::log().size() << " requests issued, first for \"" << wd::log()[0].name
                                 << "\"";
}

TEST_F(DriverQuery, NullRecordsAreRefusedWithoutAsking) {
  wd::declare("wlan0");
  EXPECT_EQ(getWlStaInfo("wlan0", nullptr), -1);
  EXPECT_EQ(getWlSiteSurveyResult("wlan0", nullptr), -1);
  EXPECT_EQ(getWlBssInfo("wlan0", nullptr), -1);
  EXPECT_TRUE(wd::log().empty());
}

TEST_F(DriverQuery, RequestBlockHelper) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  struct iwreq wrq;
  std::memset(&wrq, 0x7F, sizeof wrq);  // the helper must terminate the name itself
  wd::declare("wlan1");
  EXPECT_EQ(iw_get_ext(fd, "wlan1", SIOCGIWNAME, &wrq), 0);
  EXPECT_STREQ(wrq.ifr_name, "wlan1");
  for (size_t i = 5; i < IFNAMSIZ; ++i) EXPECT_EQ(wrq.ifr_name[i], '\0') << i;

  // The real kernel: "lo" exists but is not wireless.
  errno = 0;
  EXPECT_EQ(iw_get_ext(fd, "lo", SIOCGIWNAME, &wrq), -1);
  EXPECT_NE(errno, 0);

  size_t before = wd::log().size();
  errno = 0;
  EXPECT_EQ(iw_get_ext(fd, "wlan1;id", SIOCGIWNAME, &wrq), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(iw_get_ext(fd, "wlan1", SIOCGIWNAME, nullptr), -1);
  EXPECT_EQ(wd::log().size(), before);
  close(fd);
}

}  // namespace
