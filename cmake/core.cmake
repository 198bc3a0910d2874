# The program's sources and flags, in one place for the program, the suites
# and the fuzzers. Set NB_WARNINGS and NB_WERROR before including it.
#   northbeam_core(NAME ROOT HOSTS [SETTINGS])  the core library NAME: the
#       request parser, the pages and the settings, with every board path
#       under ROOT, the board's host names HOSTS (a list) and the settings
#       file SETTINGS below ROOT (/tmp/config.out when not given)
#   northbeam_add(PREFIX ROOT HOSTS [SETTINGS])  PREFIX_core and the program
#       PREFIX over it
set(northbeam_src "${CMAKE_CURRENT_LIST_DIR}/../src")
get_filename_component(northbeam_src "${northbeam_src}" ABSOLUTE)

# The warning set, carried by every target that links the core.
if(NOT TARGET northbeam_warnings)
  add_library(northbeam_warnings INTERFACE)
  if(NB_WARNINGS)
    target_compile_options(northbeam_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
  endif()
  if(NB_WERROR)
    target_compile_options(northbeam_warnings INTERFACE -Werror)
  endif()
endif()

# The program needs neither exceptions nor RTTI; leaving them out keeps
# the C++ runtime out of the binary and its start-up.
set(nb_program_flags -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections)

function(northbeam_core name root hosts)
  set(settings "/tmp/config.out")
  if(ARGC GREATER 3)
    set(settings "${ARGV3}")
  endif()
  add_library(${name} STATIC "${northbeam_src}/cgivars.cpp" "${northbeam_src}/funlib.cpp" "${northbeam_src}/htmllib.cpp")
  target_include_directories(${name} PUBLIC "${northbeam_src}")
  target_compile_definitions(${name} PUBLIC "NB_ROOT=\"${root}\"" "NB_SETTINGS_PATH=\"${settings}\"")
  # The names as the items of a C++ list: "a","b",
  set(names "")
  foreach(host IN LISTS hosts)
    string(APPEND names "\"${host}\",")
  endforeach()
  target_compile_definitions(${name} PRIVATE "NB_BOARD_HOSTS=${names}")
  target_compile_options(${name} PRIVATE ${nb_program_flags})
  target_link_libraries(${name} PUBLIC northbeam_warnings)
endfunction()

function(northbeam_add prefix root hosts)
  northbeam_core(${prefix}_core "${root}" "${hosts}" ${ARGN})
  add_executable(${prefix} "${northbeam_src}/cgi.cpp")
  target_compile_options(${prefix} PRIVATE ${nb_program_flags})
  target_link_libraries(${prefix} PRIVATE ${prefix}_core)
  # The board has a C library but no matching C++ runtime: link that in.
  target_link_options(${prefix} PRIVATE -static-libstdc++ -static-libgcc -Wl,--gc-sections -Wl,-O1 -Wl,--as-needed)
  if(NB_FULLY_STATIC)
    target_link_options(${prefix} PRIVATE -static)
  endif()
endfunction()
