# The program behind each web server an integrator uses, on free 127.0.0.1
# ports: a fixture lays the stand-in board and the document root, each
# server is a fixture of its own, and every check of web.py's table is a
# test per server (web.SERVER.CHECK). They share the board's settings file
# and Configure log, so they take turns (RESOURCE_LOCK web-board). Then the
# Chromium session against busybox httpd, and the load.
# As root the servers run as www-data, which must reach the board and the
# document root: below a folder that others may not pass (a clone in
# /root), the stage lays them in a folder of its own under /tmp instead.
set(nb_served "${NB_STAGE_DIR}")
execute_process(COMMAND "${NB_PYTHON}" "${NB_PYLIB}/nbtest.py" reachable "${NB_STAGE_DIR}"
  RESULT_VARIABLE nb_reachable)
if(NOT nb_reachable EQUAL 0)
  string(MD5 nb_hash "${CMAKE_BINARY_DIR}")
  string(SUBSTRING "${nb_hash}" 0 12 nb_hash)
  set(nb_served "/tmp/northbeam-stages-${nb_hash}")
endif()
set(NB_WEB_DIR "${nb_served}/web")
set(NB_LOAD_DIR "${nb_served}/load")
northbeam_add(northbeam_web "${NB_WEB_DIR}/board" "")
set(nb_web "${NB_PYTHON}" "${NB_STAGES_SRC}/web.py" "${NB_WEB_DIR}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${NB_STAGES_SRC}/web.py")
execute_process(COMMAND ${nb_web} list servers OUTPUT_VARIABLE nb_web_servers
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${nb_web} list checks OUTPUT_VARIABLE nb_web_checks
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

nb_stage(web.docroot web ${nb_web} docroot $<TARGET_FILE:northbeam_web>)
set_tests_properties(web.docroot PROPERTIES FIXTURES_SETUP web-docroot RESOURCE_LOCK web-board)

# Servers run until their stop fixture: each start returns once it answers.
foreach(server ${nb_web_servers} other)
  nb_stage(web.${server}.start web ${nb_web} start ${server})
  set_tests_properties(web.${server}.start PROPERTIES FIXTURES_SETUP web-${server}
    FIXTURES_REQUIRED web-docroot TIMEOUT 60)
  nb_stage(web.${server}.stop web ${nb_web} stop ${server})
  set_tests_properties(web.${server}.stop PROPERTIES FIXTURES_CLEANUP web-${server}
    RESOURCE_LOCK web-board TIMEOUT 60)
endforeach()
set_tests_properties(web.other.start web.other.stop PROPERTIES LABELS browser)

foreach(server ${nb_web_servers})
  foreach(check ${nb_web_checks})
    nb_stage(web.${server}.${check} web ${nb_web} check ${server} ${check})
    set_tests_properties(web.${server}.${check} PROPERTIES FIXTURES_REQUIRED "web-docroot;web-${server}"
      RESOURCE_LOCK web-board TIMEOUT 60)
  endforeach()
endforeach()

nb_stage(browser.session browser ${nb_web} browser)
set_tests_properties(browser.session PROPERTIES FIXTURES_REQUIRED "web-docroot;web-busybox;web-other"
  RESOURCE_LOCK web-board TIMEOUT 300)

# The load: its own board, whose commands print their PIDs, and its own
# busybox httpd, started and stopped by the test itself.
northbeam_add(northbeam_load "${NB_LOAD_DIR}/board" "")
set(NB_LOAD_SECONDS 15 CACHE STRING "Seconds the load runs")
nb_stage(load.busybox load "${NB_PYTHON}" "${NB_STAGES_SRC}/load.py" "${NB_LOAD_DIR}"
  $<TARGET_FILE:northbeam_load> ${NB_LOAD_SECONDS})
set_tests_properties(load.busybox PROPERTIES TIMEOUT 180)

# The sudoers rule of docs/configure.md, by which the web server's user
# applies a save as root.
nb_stage(web.sudoers web /usr/sbin/visudo -cf "${PROJECT_SOURCE_DIR}/examples/sudoers")

# The interface at a LAN address, each test in a network namespace of its
# own with TEST-NET addresses (as root; lan.py says why): the redirect back
# through another site in Chromium, and each login the docs give for
# busybox httpd and nginx, from a LAN client.
set(nb_lan "${NB_PYTHON}" "${NB_STAGES_SRC}/lan.py" "${NB_WEB_DIR}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${NB_STAGES_SRC}/lan.py")
nb_stage(browser.lan-redirect browser ${nb_lan} redirect)
set_tests_properties(browser.lan-redirect PROPERTIES FIXTURES_REQUIRED web-docroot
  RESOURCE_LOCK web-board TIMEOUT 180 SKIP_RETURN_CODE 77)
foreach(server busybox nginx)
  nb_stage(web.login.${server} web ${nb_lan} login ${server})
  set_tests_properties(web.login.${server} PROPERTIES FIXTURES_REQUIRED web-docroot
    RESOURCE_LOCK web-board TIMEOUT 60 SKIP_RETURN_CODE 77)
endforeach()
