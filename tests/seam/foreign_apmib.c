/* Another vendor's store library, reduced to fixed answers: a program built against ours must run
 * unchanged with this one first on the library path. */
#include <stdint.h>
#include <string.h>

int apmib_init(void) { return 1; }

int apmib_get(int id, void *value) {
  static const unsigned char lan[4] = {10, 9, 8, 7}, mask[4] = {255, 0, 0, 0};
  int32_t bridge = 1;
  switch (id) {
    case 170: memcpy(value, lan, 4); return 1;
    case 171: memcpy(value, mask, 4); return 1;
    case 192: memcpy(value, &bridge, 4); return 1;
    default: return 0;
  }
}

int apmib_set(int id, void *value) { return (void)id, (void)value, 1; }
int apmib_update(int type) { return (void)type, 1; }
int save_vz_to_file(void) { return 1; }
