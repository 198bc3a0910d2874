# Each libFuzzer target for NB_FUZZ_SECONDS from its seeds; the build is a
# fixture, so one target runs alone with `ctest -R fuzz.save`.
set(NB_FUZZ_SECONDS 30 CACHE STRING "Seconds each fuzz target runs")
set(nb_fuzz "${NB_PYTHON}" "${NB_STAGES_SRC}/fuzz.py")
nb_stage(fuzz.build fuzz ${nb_fuzz} build "${PROJECT_SOURCE_DIR}" "${NB_STAGE_DIR}/fuzz")
set_tests_properties(fuzz.build PROPERTIES FIXTURES_SETUP fuzzers)
foreach(target query post settings save listing)
  nb_stage(fuzz.${target} fuzz ${nb_fuzz} run "${PROJECT_SOURCE_DIR}" "${NB_STAGE_DIR}/fuzz" ${target}
    ${NB_FUZZ_SECONDS})
  set_tests_properties(fuzz.${target} PROPERTIES FIXTURES_REQUIRED fuzzers)
endforeach()
