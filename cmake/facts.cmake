# Writes OUT, the program's pages, settings and title as JSON, from the
# tables of src/funlib.hpp through cmake/facts.cpp, built by this machine's
# compiler CXX (a cross build's compiler makes programs this machine cannot
# run):
#   cmake -DCXX=c++ -DSOURCE=<source dir> -DOUT=<file> -P cmake/facts.cmake
get_filename_component(nb_dir "${OUT}" DIRECTORY)
set(nb_program "${nb_dir}/northbeam-facts")
execute_process(COMMAND "${CXX}" -std=c++17 "-I${SOURCE}/src" "${SOURCE}/cmake/facts.cpp"
  -o "${nb_program}" RESULT_VARIABLE nb_rc)
if(NOT nb_rc EQUAL 0)
  message(FATAL_ERROR "cmake/facts.cpp does not build with ${CXX}")
endif()
execute_process(COMMAND "${nb_program}" OUTPUT_FILE "${OUT}.new" RESULT_VARIABLE nb_rc)
if(NOT nb_rc EQUAL 0)
  message(FATAL_ERROR "${nb_program} failed")
endif()
file(RENAME "${OUT}.new" "${OUT}")
