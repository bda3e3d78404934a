// The update flag: "/tmp/update_flag" holding 1 (set) or 0 (clear); a missing file reads as clear.
#include "brimlib.h"

extern "C" {

int get_vz_update_flag(void) { return getValFromTmp("update_flag"); }

int set_vz_update_flag(void) { return BrimSystem("echo 1 > /tmp/update_flag", 0); }

int clear_vz_update_flag(void) { return BrimSystem("echo 0 > /tmp/update_flag", 0); }

}  // extern "C"
