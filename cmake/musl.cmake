# Boards whose C library is musl, as OpenWrt's are, built for this machine's
# CPU with Debian's musl-tools: musl's C headers, start-up files and library,
# under GCC's own C++ headers. The program uses only the parts of those that
# live wholly in headers, and it is linked by the C driver, so no C++
# library built for glibc can creep in: anything needing one fails to link.
# With -DNB_FULLY_STATIC=ON this gives the fully static program with the
# lightest start-up.
set(CMAKE_C_COMPILER musl-gcc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/musl-g++)
set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_C_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
