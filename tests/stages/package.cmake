# The Debian package, built and proved the way an administrator uses it:
# fresh Debian 12 systems made by mmdebstrap (a fixture, kept as tarballs
# and made again once a day), the package built in the build system for
# each architecture (a fixture each), lintian on each, piuparts over a fresh
# base and over one with lighttpd, and autopkgtest: debian/tests, each
# following README.Debian in a fresh testbed.
# `ctest -L package` runs it all; `ctest -R package.autopkgtest` the
# after-install tests with the fixtures they need.
set(nb_package "${NB_PYTHON}" "${NB_STAGES_SRC}/package.py" "${NB_STAGE_DIR}/package")

nb_stage(package.systems package ${nb_package} systems)
set_tests_properties(package.systems PROPERTIES FIXTURES_SETUP package-systems TIMEOUT 1800)

foreach(arch amd64 armhf arm64)
  nb_stage(package.build.${arch} package ${nb_package} build ${arch})
  set_tests_properties(package.build.${arch} PROPERTIES FIXTURES_SETUP package-${arch}
    FIXTURES_REQUIRED package-systems TIMEOUT 1200 RESOURCE_LOCK package-build)
  nb_stage(package.lintian.${arch} package ${nb_package} lintian ${arch})
  set_tests_properties(package.lintian.${arch} PROPERTIES FIXTURES_REQUIRED package-${arch} TIMEOUT 600)
endforeach()

foreach(base base base-lighttpd)
  nb_stage(package.piuparts.${base} package ${nb_package} piuparts ${base})
  set_tests_properties(package.piuparts.${base} PROPERTIES
    FIXTURES_REQUIRED "package-systems;package-amd64" TIMEOUT 1200)
endforeach()

nb_stage(package.autopkgtest package ${nb_package} autopkgtest)
set_tests_properties(package.autopkgtest PROPERTIES
  FIXTURES_REQUIRED "package-systems;package-amd64" TIMEOUT 2400)
