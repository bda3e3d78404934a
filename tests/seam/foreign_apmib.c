/* Another vendor's store library, reduced to fixed answers: a program built against ours must run
 * unchanged with this one first on the library path. */
#include <string.h>

int apmib_init(void) { return 1; }
int apmib_get(int id, void *value) {  /* the LAN address and mask, the operation mode (little-endian) */
  static const unsigned char lan[4] = {10, 9, 8, 7}, mask[4] = {255, 0, 0, 0}, bridge[4] = {1, 0, 0, 0};
  const unsigned char *v = id == 170 ? lan : id == 171 ? mask : id == 192 ? bridge : NULL;
  return v ? (memcpy(value, v, 4), 1) : 0;
}
int apmib_set(int id, void *value) { return (void)id, (void)value, 1; }
int apmib_update(int type) { return (void)type, 1; }
int save_vz_to_file(void) { return 1; }
