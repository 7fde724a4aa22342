# What `cmake --install` puts where (FHS, GNUInstallDirs), and the Debian package built from the
# same rules with CPack (cpack -G DEB in the build directory).
include(GNUInstallDirs)
# Two packages from these rules: demodctl (every rule without a component) and python3-demodctl
# (the Python module and its pytest plugin, below).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME demodctl)

# Not under CMAKE_INSTALL_LIBDIR: systemd and udev read these directories, whatever the
# architecture. Relative paths follow the prefix; the Debian package puts them at the root.
set(DEMODCTL_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING "Where the systemd units go")
set(DEMODCTL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule goes")

# regserver goes to bin, not sbin: besides the service it is run by ordinary users, with the
# simulated board, and needs no privileges.
install(TARGETS demodctl regserver demodmon demodreg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS tools/plot-capture DESTINATION ${CMAKE_INSTALL_BINDIR}
        RENAME demodctl-plot-capture)
install(FILES dist/bash-completion/demodctl dist/bash-completion/regserver
              dist/bash-completion/demodmon dist/bash-completion/demodreg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES dist/udev/60-demodctl-i2c.rules DESTINATION ${DEMODCTL_UDEV_RULES_DIR})

# The services name the program by its installed path, known only when installing (cpack installs
# with a prefix of its own): regserver.service on every adapter, started by regserver.socket, the
# template regserver@i2c-N.service on one adapter each, and demodmon.service. Each prefix
# configures its own copies, so installs into several prefixes at once (the tests, cpack) do not
# write over each other's.
set(unit_dir ${DEMODCTL_SYSTEMD_UNIT_DIR})
if(NOT IS_ABSOLUTE ${unit_dir})
  set(unit_dir "\${CMAKE_INSTALL_PREFIX}/${unit_dir}")
endif()
foreach(unit regserver.service regserver@.service demodmon.service)
  install(CODE "
    set(bindir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    string(MD5 prefix_id \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(configured \"${CMAKE_BINARY_DIR}/dist/\${prefix_id}/${unit}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/dist/systemd/${unit}.in\" \"\${configured}\" @ONLY)
    file(INSTALL DESTINATION \"${unit_dir}\" TYPE FILE FILES \"\${configured}\")
    file(REMOVE_RECURSE \"${CMAKE_BINARY_DIR}/dist/\${prefix_id}\")")
endforeach()
install(FILES dist/systemd/regserver.socket DESTINATION ${DEMODCTL_SYSTEMD_UNIT_DIR})
# demodmon.service's settings, an example to edit in place: beside the prefix, so /usr gives
# /etc/demodmon (where the service reads it), and a conffile of the package, so an upgrade keeps
# the lab's edits.
set(DEMODCTL_DEMODMON_CONFIG_DIR "../etc/demodmon" CACHE STRING "Where demodmon.toml goes")
install(FILES dist/demodmon/demodmon.toml DESTINATION ${DEMODCTL_DEMODMON_CONFIG_DIR})
set(demodmon_conffiles ${CMAKE_BINARY_DIR}/dist/conffiles)
file(WRITE ${demodmon_conffiles} "/etc/demodmon/demodmon.toml\n")

# Documents; a native Debian package's changelog is changelog.gz, compressed reproducibly.
install(FILES README.md dist/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY scenarios/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/scenarios)
# Prometheus alert rules for demodmon's /metrics, to copy beside a lab's prometheus.yml.
install(FILES dist/prometheus/demodmon-alerts.yml DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
file(STRINGS dist/debian/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^demodctl \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "dist/debian/changelog does not start with version ${PROJECT_VERSION}")
endif()
# Whoever builds the package signs it: a lab that publishes it in its own repository sets
# -DDEMODCTL_MAINTAINER="Its Name <its-address>". dpkg wants an address; the default has none
# that reaches anyone (.invalid), so a package nobody set a maintainer for says so.
set(DEMODCTL_MAINTAINER "demodctl <maintainer@demodctl.invalid>" CACHE STRING
    "The Debian package's maintainer, NAME <ADDRESS>")
# The changelog's entries are signed by the maintainer too.
configure_file(dist/debian/changelog ${CMAKE_BINARY_DIR}/dist/changelog @ONLY)
set(changelog_gz ${CMAKE_BINARY_DIR}/dist/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/dist/changelog > ${changelog_gz}
  DEPENDS ${CMAKE_BINARY_DIR}/dist/changelog VERBATIM)

# Manual pages from their scdoc sources, not hyphenated (they are full of literal words), gzipped.
find_program(SCDOC scdoc)
set(man_outputs ${changelog_gz})
if(SCDOC)
  foreach(page demodctl.1 demodctl-plot-capture.1 demodmon.1 demodreg.1 regserver.8)
    string(REGEX REPLACE ".*\\." "" section ${page})
    set(roff ${CMAKE_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${roff} ${roff}.gz
      COMMAND sh -c "${SCDOC} < \"$1\" > \"$2.scdoc\" && sed '/^\\.TH /a .nh' \"$2.scdoc\" > \"$2\" && gzip -9n -c \"$2\" > \"$2.gz\""
              sh ${CMAKE_SOURCE_DIR}/dist/man/${page}.scd ${roff}
      DEPENDS dist/man/${page}.scd VERBATIM)
    list(APPEND man_outputs ${roff} ${roff}.gz)
    install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
else()
  message(WARNING "scdoc not found: the manual pages are neither built nor installed")
endif()
add_custom_target(dist_files ALL DEPENDS ${man_outputs})
install(FILES ${changelog_gz} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Python module, for Debian's Python: the package demodctl/ and its dist-info, whose
# entry_points.txt registers the pytest plugin (pytest11), so an installed demodctl is loaded by
# every pytest run without -p (named as -p names it, so giving -p as well loads it once).
set(DEMODCTL_PYTHON_INSTALL_DIR "lib/python3/dist-packages" CACHE STRING
    "Where the Python module goes (Debian's path for every Python 3)")
if(TARGET demodctl_python)
  install(TARGETS demodctl_python LIBRARY DESTINATION ${DEMODCTL_PYTHON_INSTALL_DIR}/demodctl
          COMPONENT python3-demodctl)
  install(FILES ${PYTHON_PACKAGE_FILES} DESTINATION ${DEMODCTL_PYTHON_INSTALL_DIR}/demodctl
          COMPONENT python3-demodctl)
  set(dist_info ${CMAKE_BINARY_DIR}/dist/demodctl-${PROJECT_VERSION}.dist-info)
  file(WRITE ${dist_info}/METADATA "Metadata-Version: 2.1\nName: demodctl\nVersion: ${PROJECT_VERSION}\nSummary: satellite demodulator boards from Python and pytest\nLicense: MIT\n")
  file(WRITE ${dist_info}/entry_points.txt "[pytest11]\ndemodctl.pytest_plugin = demodctl.pytest_plugin\n")
  file(WRITE ${dist_info}/INSTALLER "cmake\n")
  install(DIRECTORY ${dist_info} DESTINATION ${DEMODCTL_PYTHON_INSTALL_DIR}
          COMPONENT python3-demodctl)
  install(FILES dist/debian/copyright ${changelog_gz}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-demodctl COMPONENT python3-demodctl)
  install(DIRECTORY examples/production DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/python3-demodctl/examples
          COMPONENT python3-demodctl)
endif()

# The Debian package: CPack rather than debhelper, so the package is built from exactly the rules
# above, in any build directory, without a debian/ tree to keep in step.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME demodctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_CONTACT "${DEMODCTL_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "the demodctl authors")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# The plot tool and its modules are Suggests, not Depends or Recommends (apt installs those by
# default): on a minimal Debian 12 system numpy with matplotlib pulled 193 packages and 948 MB,
# Python alone 47 MB, where the rest adds 9.6 MB (scripts/install-size.sh); the tool says what
# to install.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "i2c-tools, python3, python3-numpy, python3-matplotlib")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test and debug tool for a satellite demodulator and its tuner")
set(CPACK_PACKAGE_DESCRIPTION
  "demodctl performs one command per run on a DVB-S/DVB-S2/DirecTV demodulator
chip or the tuner behind its I2C repeater (lock status, initialisation, signal
measurements, sample capture, tuning) and prints its outcome as one result
line. It reaches the bus over a USB-to-I2C bridge (Linux i2c-dev) or over TCP
through regserver, a register server for i2c-dev adapters or a simulated
board, which also comes as hardened systemd services (socket-activated on
every adapter, or one instance per adapter). demodmon watches boards live on
open connections (a terminal log, JSON lines, a web page and Prometheus
metrics); demodctl-plot-capture draws a sample capture and exports it as
SigMF (with python3-numpy and python3-matplotlib).

It is free software under the MIT licence.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_SOURCE_DIR}/dist/debian/postinst ${CMAKE_SOURCE_DIR}/dist/debian/prerm
  ${CMAKE_SOURCE_DIR}/dist/debian/postrm ${demodmon_conffiles})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# One package per component; demodctl keeps every setting above, python3-demodctl has its own.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_DEMODCTL_PACKAGE_NAME demodctl)
set(CPACK_DEBIAN_DEMODCTL_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
${CPACK_PACKAGE_DESCRIPTION}")
if(TARGET demodctl_python)
  set(CPACK_COMPONENTS_ALL demodctl python3-demodctl)
  set(CPACK_DEBIAN_PYTHON3-DEMODCTL_PACKAGE_NAME python3-demodctl)
  set(CPACK_DEBIAN_PYTHON3-DEMODCTL_PACKAGE_SECTION python)
  # The module is built for one Python version (its ABI tag): the next one needs a rebuild.
  math(EXPR python_next_minor "${Python_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON3-DEMODCTL_PACKAGE_DEPENDS
      "python3 (>= ${Python_VERSION_MAJOR}.${Python_VERSION_MINOR}~), python3 (<< ${Python_VERSION_MAJOR}.${python_next_minor}), python3-numpy")
  set(CPACK_DEBIAN_PYTHON3-DEMODCTL_PACKAGE_SUGGESTS "python3-pytest, python3-pytest-xdist")
  # Its maintainer scripts are none of demodctl's (no user, no services): the module's byte
  # code is compiled on install and removed before removal, as Debian's Python packages do.
  set(python_control ${CMAKE_BINARY_DIR}/dist/python3-demodctl)
  file(WRITE ${python_control}/postinst "#!/bin/sh\nset -e\nif [ \"$1\" = configure ] && command -v py3compile >/dev/null 2>&1; then\n\tpy3compile -p python3-demodctl\nfi\n")
  file(WRITE ${python_control}/prerm "#!/bin/sh\nset -e\nif command -v py3clean >/dev/null 2>&1; then\n\tpy3clean -p python3-demodctl\nfi\n")
  file(CHMOD ${python_control}/postinst ${python_control}/prerm FILE_PERMISSIONS OWNER_READ
       OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CPACK_DEBIAN_PYTHON3-DEMODCTL_PACKAGE_CONTROL_EXTRA
      ${python_control}/postinst ${python_control}/prerm)
  set(CPACK_DEBIAN_PYTHON3-DEMODCTL_DESCRIPTION
    "satellite demodulator boards from Python and pytest
demodctl's boards as a Python module: a board on a register server, the USB
bridge or the simulated board, kept open, its lock, measurements, mode report,
captures (numpy) and registers, with exceptions that carry the bus fault.
Its pytest plugin runs production tests over several boards in parallel with
limits from a TOML file and reports them in JUnit XML and JSON.")
endif()
# Each package's description above starts with its own summary line: CPack would put this one
# in front of both.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)

include(CPack)

if(DEMODCTL_TESTS)
  # The install tree in a temporary prefix, part by part; 77: skipped (a tool is missing).
  foreach(part files man completion units hardening)
    add_test(NAME install_${part}
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dist/install_test.sh ${CMAKE_BINARY_DIR} ${part})
    set_tests_properties(install_${part} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
                         ENVIRONMENT "DEMODCTL_MAN_PAGES=$<BOOL:${SCDOC}>;DEMODCTL_HARDENED=$<BOOL:${DEMODCTL_HARDENED}>")
  endforeach()
  if(NOT DEMODCTL_SANITIZE)  # the package is made from a normal build
    # debian_package: lintian and the unpacked programs; debian_package_docs: the paths the
    # documents name
    add_test(NAME debian_package
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dist/package_test.sh ${CMAKE_BINARY_DIR} package)
    add_test(NAME debian_package_docs
             COMMAND bash ${CMAKE_SOURCE_DIR}/tests/dist/package_test.sh ${CMAKE_BINARY_DIR} docs)
    set_tests_properties(debian_package debian_package_docs PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
  endif()
endif()
