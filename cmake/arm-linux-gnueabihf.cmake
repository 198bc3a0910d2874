# 32-bit ARM boards with a hard-float system (armhf: Raspberry Pi OS,
# Armbian, BeagleBone's Debian) with Debian's cross compiler
# (g++-arm-linux-gnueabihf). An armel program (arm-linux-gnueabi.cmake)
# does not start there: its loader, ld-linux.so.3, is not armhf's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NB_CROSS_TRIPLE arm-linux-gnueabihf)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm -L /usr/${NB_CROSS_TRIPLE})
