/* Forced ahead of every C++ source of the builds against the router's small C libraries
   (cmake/mipsel-small-libc.cmake); never part of the shipped sources. The cross compiler's C++
   headers were configured for glibc: they test the C library's version with __GLIBC_PREREQ, which
   musl lacks, and <cstdio> and <cstdlib> bring C names into std:: with using-declarations, which
   fail where the C library declares no such name (uClibc-ng). We call none of them. */
#ifdef __cplusplus
#include <features.h>
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(maj, min) 0
#endif
#ifdef __UCLIBC__
extern "C" {
char *tmpnam(char *);
void quick_exit(int) __attribute__((__noreturn__));
int at_quick_exit(void (*)(void));
}
#endif
#endif
