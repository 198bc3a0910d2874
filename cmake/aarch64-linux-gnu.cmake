# 64-bit ARM boards (arm64) with Debian's cross compiler (g++-aarch64-linux-gnu).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(NB_CROSS_TRIPLE aarch64-linux-gnu)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-aarch64 -L /usr/${NB_CROSS_TRIPLE})
