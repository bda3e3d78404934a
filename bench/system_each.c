/* The boot benchmark's anchor: each line of FILE run as a command through system(3), one after
 * the other, as the boot must run each of its commands through a shell of its own. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  static char line[8192];
  FILE *f = argc == 2 ? fopen(argv[1], "r") : NULL;
  if (!f) {
    fputs("usage: system_each FILE\n", stderr);
    return 2;
  }
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\n")] = '\0';
    if (line[0] != '\0') (void)system(line);
  }
  fclose(f);
  return 0;
}
