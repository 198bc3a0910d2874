# The builds beside the test build: the board's, a plain packager's, the two
# fully static ones, the sanitizer build and the cross builds (the board's
# fully static musl program among them).
set(nb_sub "${NB_PYTHON}" "${NB_STAGES_SRC}/subbuild.py")
set(nb_src "${PROJECT_SOURCE_DIR}")

nb_stage(build.board build ${nb_sub} board "${nb_src}" "${NB_STAGE_DIR}/board")
nb_stage(build.plain build ${nb_sub} plain "${nb_src}" "${NB_STAGE_DIR}/plain")
foreach(libc glibc musl)
  # The suites of this build, started against the static program over the
  # same test board.
  nb_stage(build.static-${libc} build ${nb_sub} static "${nb_src}" "${NB_STAGE_DIR}/static-${libc}"
    ${libc} "${CMAKE_BINARY_DIR}/tests/root" $<TARGET_FILE:process_tests> $<TARGET_FILE:hostile_tests>)
  set_tests_properties(build.static-${libc} PROPERTIES RESOURCE_LOCK board)
endforeach()
nb_stage(build.asan build ${nb_sub} asan "${nb_src}" "${NB_STAGE_DIR}/asan")
foreach(triple arm-linux-gnueabi arm-linux-gnueabihf aarch64-linux-gnu mips-linux-gnu)
  nb_stage(cross.${triple} cross ${nb_sub} cross "${nb_src}" "${NB_STAGE_DIR}/cross-${triple}" ${triple})
endforeach()
# The board's fully static musl program for ARM: this machine's process and
# hostile suites start it under qemu-user. The unit suite links the code
# into GoogleTest, which needs the whole C++ library that this build leaves
# out; the same source runs it in every other build.
nb_stage(cross.arm-linux-musleabihf cross ${nb_sub} static "${nb_src}" "${NB_STAGE_DIR}/cross-arm-linux-musleabihf"
  musl-armhf "${CMAKE_BINARY_DIR}/tests/root" $<TARGET_FILE:process_tests> $<TARGET_FILE:hostile_tests>)
set_tests_properties(cross.arm-linux-musleabihf PROPERTIES RESOURCE_LOCK board)
