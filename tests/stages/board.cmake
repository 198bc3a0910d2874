# The emulated ARM board: its image, one boot that the rows share (a
# fixture, with a new flash), and the rows of board.py's table. The power
# rows boot boards of their own, after the shared one is off. `ctest -L board`
# boots it once; `ctest -R board.login` runs one row with its fixtures.
set(nb_board "${NB_PYTHON}" "${NB_STAGES_SRC}/board.py")
set(nb_board_state "${NB_STAGE_DIR}/board")
nb_stage(board.image board "${PROJECT_SOURCE_DIR}/scripts/board" image)
set_tests_properties(board.image PROPERTIES FIXTURES_SETUP board_image TIMEOUT 1200)
nb_stage(board.boot board ${nb_board} boot "${nb_board_state}")
set_tests_properties(board.boot PROPERTIES FIXTURES_SETUP board FIXTURES_REQUIRED board_image TIMEOUT 240)
nb_stage(board.off board ${nb_board} off "${nb_board_state}")
set_tests_properties(board.off PROPERTIES FIXTURES_CLEANUP board TIMEOUT 60)

# The table's rows, each NAME:fixture or NAME:own.
execute_process(COMMAND ${nb_board} rows OUTPUT_VARIABLE nb_board_rows OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
set(nb_board_shared)
foreach(row ${nb_board_rows})
  string(REPLACE ":" ";" row ${row})
  list(GET row 0 name)
  list(GET row 1 boot)
  set(test board.${name})
  nb_stage(${test} board ${nb_board} row ${name} "${nb_board_state}")
  if(boot STREQUAL fixture)
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED "board_image;board" TIMEOUT 400)
    # First boot comes first; the watchdog, which powers the board off, last.
    if(name STREQUAL watchdog)
      set_tests_properties(${test} PROPERTIES DEPENDS "${nb_board_shared}")
    elseif(NOT name STREQUAL first_boot)
      set_tests_properties(${test} PROPERTIES DEPENDS board.first_boot)
    endif()
    list(APPEND nb_board_shared ${test})
  else()
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED board_image DEPENDS board.off TIMEOUT 900)
  endif()
endforeach()

# Configure's table on this machine, under Debian's dash with stand-ins for
# the WAN port's commands (the board row `configure` runs it on the board).
nb_stage(board.configure_host board "${NB_PYTHON}" "${NB_STAGES_SRC}/configure.py" host "${NB_STAGE_DIR}")
set_tests_properties(board.configure_host PROPERTIES TIMEOUT 120)
