# The Debian package, proved the way a board's owner uses it: fresh Debian 12
# systems made by mmdebstrap (a fixture, kept as tarballs and made again once
# a day), the package built in the build system for each architecture (a
# fixture each), lintian on each, piuparts over a fresh base, and Apache and
# lighttpd in a fresh system with the package installed by apt, each a
# fixture, with every check of package.py's table through each.
# `ctest -L package` runs it all; `ctest -R package.apache.save` one check
# with the fixtures it needs.
set(nb_package "${NB_PYTHON}" "${NB_STAGES_SRC}/package.py" "${NB_STAGE_DIR}/package")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${NB_STAGES_SRC}/package.py")
execute_process(COMMAND ${nb_package} list servers OUTPUT_VARIABLE nb_package_servers
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${nb_package} list checks OUTPUT_VARIABLE nb_package_checks
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

nb_stage(package.systems package ${nb_package} systems)
set_tests_properties(package.systems PROPERTIES FIXTURES_SETUP package-systems TIMEOUT 1800)

foreach(arch amd64 armhf arm64)
  nb_stage(package.build.${arch} package ${nb_package} build ${arch})
  set_tests_properties(package.build.${arch} PROPERTIES FIXTURES_SETUP package-${arch}
    FIXTURES_REQUIRED package-systems TIMEOUT 1200 RESOURCE_LOCK package-build)
  nb_stage(package.lintian.${arch} package ${nb_package} lintian ${arch})
  set_tests_properties(package.lintian.${arch} PROPERTIES FIXTURES_REQUIRED package-${arch} TIMEOUT 600)
endforeach()

nb_stage(package.piuparts package ${nb_package} piuparts)
set_tests_properties(package.piuparts PROPERTIES FIXTURES_REQUIRED "package-systems;package-amd64" TIMEOUT 1200)

foreach(server ${nb_package_servers})
  nb_stage(package.${server}.start package ${nb_package} start ${server})
  set_tests_properties(package.${server}.start PROPERTIES FIXTURES_SETUP package-${server}
    FIXTURES_REQUIRED "package-systems;package-amd64" TIMEOUT 300)
  nb_stage(package.${server}.stop package ${nb_package} stop ${server})
  set_tests_properties(package.${server}.stop PROPERTIES FIXTURES_CLEANUP package-${server} TIMEOUT 60)
  foreach(check ${nb_package_checks})
    nb_stage(package.${server}.${check} package ${nb_package} check ${server} ${check})
    set_tests_properties(package.${server}.${check} PROPERTIES
      FIXTURES_REQUIRED "package-systems;package-amd64;package-${server}" TIMEOUT 60)
    list(APPEND nb_package_${server} package.${server}.${check})
  endforeach()
endforeach()
# Last in the Apache system: removing the package disables what it enabled,
# purging it leaves nothing behind.
nb_stage(package.apache.remove package ${nb_package} remove apache)
set_tests_properties(package.apache.remove PROPERTIES DEPENDS "${nb_package_apache}"
  FIXTURES_REQUIRED "package-systems;package-amd64;package-apache" TIMEOUT 300)
