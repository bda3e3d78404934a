/* A handler's view through the platform seam: what the store says, read through libbrim. */
#include <stdio.h>

#include "brimlib.h"

int main(void) {
  char lan[16], mask[16];
  if (!apmib_init()) return puts("store: cannot open"), 1;
  printf("lan %s/%s mode %d\n", getLanIp(lan), getLanNetmask(mask), getOperationMode());
  return 0;
}
