// Globals that belong to the management handlers. The library defines and exports them with
// their sizes and start values and never touches them itself.
#include "brimlib.h"

extern "C" {

int32_t vzData = 0, delay_time = 0, ftype = 0, web_mosq = 0, wlan_num = 0, vwlan_num = 0,
        mssid_idx = 0;
int32_t WAN_IF = 0, BRIDGE_IF = 0, PPPOE_IF = 0, ELAN_IF = 0, ELAN2_IF = 0, ELAN3_IF = 0, ELAN4_IF = 0;
char msgData[516] = {};
char upgrade_time[44] = {};
char mos_conf[40] = {};
char mac_md5[40] = {};
char WLAN_IF[20] = {};
int32_t last_wantype = -1;
// Declared apart in C++ (see the header), so it carries its export here.
BRIM_API int32_t tm = 0;

}  // extern "C"
