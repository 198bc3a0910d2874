// GCC's C++ headers, configured for glibc, ask glibc's version in #if
// lines; under musl there is no glibc, so every such test is false.
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 0
#endif
