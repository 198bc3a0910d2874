# Big-endian 32-bit MIPS boards with Debian's cross compiler
# (g++-mips-linux-gnu); the tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(NB_CROSS_TRIPLE mips-linux-gnu)
include("${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-mips -L /usr/${NB_CROSS_TRIPLE})
