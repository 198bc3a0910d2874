# 32-bit ARM boards (ARMv7, hard float) with musl, fully static: Debian's
# cross compiler (g++-arm-linux-gnueabihf) with Debian's musl for armhf,
# which scripts/musl-armhf fetches into build/musl-armhf (NB_MUSL_ARMHF),
# as cmake/musl.cmake does with musl-tools for this machine's CPU: musl's C
# headers, start-up files and library through the package's GCC driver
# file, under GCC's own C++ headers, linked by the C
# driver. The package carries
# musl's static library only, so every program is linked with -static and
# starts with no dynamic linker at all; the tests run it under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(nb_triple arm-linux-gnueabihf)
set(NB_MUSL_ARMHF "${CMAKE_CURRENT_LIST_DIR}/../build/musl-armhf"
  CACHE PATH "Debian's musl-dev for armhf, as scripts/musl-armhf fetches it")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES NB_MUSL_ARMHF)
if(NOT EXISTS "${NB_MUSL_ARMHF}/musl-gcc.specs")
  message(FATAL_ERROR "no musl for armhf in ${NB_MUSL_ARMHF}: run scripts/musl-armhf")
endif()

set(CMAKE_C_COMPILER ${nb_triple}-gcc)
set(CMAKE_CXX_COMPILER ${nb_triple}-g++)
execute_process(COMMAND ${nb_triple}-g++ -dumpversion OUTPUT_VARIABLE nb_gxx_version
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "^[0-9]+" nb_gxx_major "${nb_gxx_version}")
set(nb_cxx_headers /usr/${nb_triple}/include/c++/${nb_gxx_major})
set(nb_musl_driver "-specs=${NB_MUSL_ARMHF}/musl-gcc.specs")
set(CMAKE_C_FLAGS_INIT "${nb_musl_driver}")
# That file puts musl's headers after these, as cmake/musl-g++ does.
set(CMAKE_CXX_FLAGS_INIT "${nb_musl_driver} -include ${CMAKE_CURRENT_LIST_DIR}/musl-cxx.h \
-isystem ${nb_cxx_headers} -isystem ${nb_cxx_headers}/${nb_triple}")
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CXX_LINK_EXECUTABLE
  "<CMAKE_C_COMPILER> <FLAGS> <CMAKE_CXX_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

set(CMAKE_FIND_ROOT_PATH "${NB_MUSL_ARMHF}/root")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm)
