// A wireless driver for machines that have none. The test executables are linked with
// -Wl,--wrap=ioctl, so every ioctl made by the library's objects (and by test code) reaches
// __wrap_ioctl in wireless_double.cpp. For an interface name that a test has declared wireless,
// SIOCGIWNAME succeeds and the driver's private requests are answered from the scripted state
// below; every other request, and every request for any other name, goes on to the C library's
// ioctl. Inside the sandbox that is first the router's Ethernet driver (platform/ethdriver,
// preloaded into every process there), which answers the WAN link request of an undeclared
// Ethernet port from its real carrier, and then the kernel. Each request is answered once: by
// this double for a declared port, else by what lies beneath it.
//
// The double also checks what a real driver would be handed: a known request number, the name
// terminated within its 16 bytes, a data pointer and the length that request needs (flags 0),
// on an open socket. A request that breaks a rule is refused with EINVAL and noted in
// violations(); tests expect that list to stay empty.
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
  std::map<unsigned, int> fail;       // request number -> errno it fails with
};

// Scripted state of one wired port whose Ethernet driver answers the device-private request
// (SIOCDEVPRIVATE, ifr_data at a DevPrivateArgs block with ETH_CMD_GET_WAN_LINK). The double
// checks the block as that driver reads it: the command, the block's own address, 0, and a
// pointer for the link state word, which it then writes.
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

// Declares `name` wireless (replacing earlier state) and returns its state for scripting.
Radio &declare(const std::string &name);
// Declares `name` a wired port with the Ethernet driver (replacing earlier state); returns its
// state for scripting. Device-private requests for other names go to the kernel.
EthPort &declare_ethernet(const std::string &name);
// Forgets every declared interface, the log and the violations.
void reset();
const std::vector<Seen> &log();
// Forgets the log only (long runs, e.g. benchmarks).
void clear_log();
const std::vector<std::string> &violations();
// Requests in the log for `name` with `request`.
int count(const std::string &name, unsigned request);

}  // namespace wireless_double
