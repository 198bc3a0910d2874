# Shared by the toolchain files: Debian's cross compilers for NB_CROSS_TRIPLE,
# with headers and libraries found only in that target's folder.
set(CMAKE_C_COMPILER ${NB_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${NB_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${NB_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
