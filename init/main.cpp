// The boot executable: runs the boot sequence once and exits.
#include "brimlib.h"

int main(int, char **) { return initbrim() < 0 ? -1 : 0; }
