// A wireless driver for machines that have none. Test programs link with -Wl,--wrap=ioctl, so
// every ioctl reaches __wrap_ioctl. For a name declared wireless, SIOCGIWNAME succeeds and the
// driver's private requests are answered from the scripted Radio; for a declared EthPort, the
// Ethernet driver's SIOCDEVPRIVATE WAN link request. Everything else goes to the C library's
// ioctl (in the sandbox, first the router's Ethernet driver, platform/ethdriver). A request a
// real driver would refuse (unknown number, unterminated name, wrong data pointer, length or
// flags) fails with EINVAL and is noted in violations(), which tests expect to stay empty.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace wireless_double {

// Scripted state of one wireless interface.
struct Radio {
  std::vector<uint8_t> sta_info;      // written at the start of the caller's 3120 bytes
  uint16_t sta_num = 0;               // SIOC_WL_STA_NUM
  uint8_t scan_status = 0;            // SIOC_WL_SCAN_REQ
  std::vector<uint8_t> survey;        // SIOC_WL_SCAN_RESULT, at most 11268 bytes
  uint8_t join_result = 0;            // SIOC_WL_JOIN_RESULT
  std::vector<uint8_t> bss_info;      // SIOC_WL_BSS_INFO, at most 44 bytes
  std::map<unsigned, int> fail;       // request number (the driver's or SIOCGIF*) -> errno it fails with
};

// A wired port: the block at ifr_data must hold ETH_CMD_GET_WAN_LINK, its own address, 0, and a
// pointer to the link state word, which is then written.
struct EthPort {
  int32_t link_state = 0;  // written as it is: 0 link, negative none, anything else too
  int fail = 0;            // errno the request fails with; 0 answers
};

// One request as the double saw it (also those passed to the kernel).
struct Seen {
  std::string name;   // the name up to its terminator (or all 16 bytes)
  unsigned request = 0;
  bool wireless = false;  // answered by the double
  const void *pointer = nullptr;
  uint16_t length = 0;
  uint16_t flags = 0;
  int domain = -1;        // of the descriptor, -1 when it is not a socket
  int type = -1;
  bool cloexec = false;
};

Radio &declare(const std::string &name);             // replaces earlier state
EthPort &declare_ethernet(const std::string &name);  // replaces earlier state
void reset();  // forgets every declared interface, the log and the violations
const std::vector<Seen> &log();
void clear_log();
const std::vector<std::string> &violations();
int count(const std::string &name, unsigned request);  // requests in the log for name

}  // namespace wireless_double
