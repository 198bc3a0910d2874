# 32-bit ARM boards (little-endian, EABI, soft float) with Debian's cross
# compiler (g++-arm-linux-gnueabi); the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(NB_CROSS_TRIPLE arm-linux-gnueabi)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm -L /usr/${NB_CROSS_TRIPLE})
