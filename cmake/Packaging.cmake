# Debian packages, one per install component (see InstallLayout.cmake):
#   cpack -G DEB --config build/CPackConfig.cmake
# The packages hold the paths the build was configured with, so make them
# from a build configured with -DCMAKE_INSTALL_PREFIX=/usr (scripts/package-check
# does that, then checks and tries them).

set(VTBOX_DEB_MAINTAINER "vtbox developers <vtbox@example.org>")
set(VTBOX_DEB_REVISION 1)

set(CPACK_PACKAGE_NAME vtbox)
set(CPACK_PACKAGE_VENDOR "vtbox developers")
set(CPACK_PACKAGE_CONTACT "${VTBOX_DEB_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/packages")
set(CPACK_PACKAGING_INSTALL_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL runtime dev cli utility snmp devicesim)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VTBOX_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VTBOX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/vtbox")
# Dependencies on system libraries come from dpkg-shlibdeps; those between our
# own packages from the components' DEPENDS (same version). dpkg-shlibdeps
# finds our libraries in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  "${PROJECT_BINARY_DIR}/platform" "${PROJECT_BINARY_DIR}/engine")

# name | section | summary | description (one paragraph) | component dependencies
set(VTBOX_DEB_PACKAGES
  "runtime|libvtboxbrd1|libs|backup and restore engine for printer document boxes (libraries)|The engine library libvtBoxBRD backs up the numbered boxes of a network printer's document store into one zip file and writes them back, and libvtplatform holds the system services it and the vtbox programs share. Also holds the settings of backup conversion between device engine versions.|"
  "dev|libvtboxbrd-dev|libdevel|backup and restore engine for printer document boxes (development files)|C headers, link names, a pkg-config file (vtboxbrd) and a CMake package (find_package(vtBoxBRD)) for programs that use the engine library and the SNMP element provider's interfaces.|runtime"
  "cli|vtbox|utils|command line backup and restore of printer document boxes|vtbox lists, backs up and restores the document boxes of a network printer, describes backup files and prunes old ones. vtbox fleet backs up many devices from one inventory and keeps their state for monitoring. Comes with systemd units for unattended scheduled backups of one device (vtbox-backup@.service and vtbox-backup@.timer) and of a fleet (vtbox-fleet@.service and vtbox-fleet@.timer), an example inventory, its manual pages and bash and zsh completion.|runtime"
  "utility|vtbox-utility|utils|desktop program to back up and restore printer document boxes|VAULTRABackupRestore is the interactive Qt program for an administrator: it finds the device, logs in, lists the boxes, backs them up and restores them behind a progress window. vtbox-discover chooses the device.|runtime"
  "snmp|vtbox-snmp|net|SNMP element provider for network printers|libKX9SNMPProvider is an in-process component server that reads and writes a printer's elements over SNMP as defined by its element maps. vtbox-snmp is its host program on the command line.|runtime"
  "devicesim|vtbox-devicesim|utils|simulated printer document store for trying and testing vtbox|vtbox-devicesim plays a network printer on loopback: its box web service, its FTP server and a seeded document store, with injectable faults. A tool for trying and testing, not for production.|")

# vt_wrap_text(<out> <text>): the text in lines of at most 72 characters.
function(vt_wrap_text out text)
  string(REPLACE " " ";" words "${text}")
  set(result "")
  set(line "")
  foreach(word ${words})
    string(LENGTH "${line} ${word}" n)
    if(line STREQUAL "")
      set(line "${word}")
    elseif(n GREATER 72)
      string(APPEND result "${line}\n")
      set(line "${word}")
    else()
      string(APPEND line " ${word}")
    endif()
  endforeach()
  set(${out} "${result}${line}" PARENT_SCOPE)
endfunction()

include(CPackComponent)
foreach(entry ${VTBOX_DEB_PACKAGES})
  string(REPLACE "|" ";" entry "${entry}")
  list(LENGTH entry n)
  list(GET entry 0 component)
  list(GET entry 1 package)
  list(GET entry 2 section)
  list(GET entry 3 summary)
  list(GET entry 4 description)
  set(depends)
  if(n GREATER 5)
    list(GET entry 5 depends)
  endif()
  vt_wrap_text(description "${description}")
  string(TOUPPER "${component}" C)
  cpack_add_component(${component} DISPLAY_NAME "${package}" DESCRIPTION "${summary}\n${description}"
                      DEPENDS ${depends})
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME "${package}")
  set(CPACK_DEBIAN_${C}_PACKAGE_SECTION "${section}")
  set(CPACK_DEBIAN_${C}_DESCRIPTION "${summary}\n${description}")

  # What Debian asks of every package: its copyright and its changelog.
  set(docdir "${CMAKE_INSTALL_DATADIR}/doc/${package}")
  set(changelog "${PROJECT_BINARY_DIR}/debian/${package}/changelog.Debian")
  configure_file("${PROJECT_SOURCE_DIR}/dist/debian/changelog.in" "${changelog}" @ONLY)
  add_custom_command(OUTPUT "${changelog}.gz"
    COMMAND gzip -9nkf "${changelog}"
    DEPENDS "${changelog}")
  list(APPEND VTBOX_DEB_CHANGELOGS "${changelog}.gz")
  install(FILES "${changelog}.gz" "${PROJECT_SOURCE_DIR}/dist/debian/copyright"
    DESTINATION "${docdir}" COMPONENT ${component})
endforeach()
add_custom_target(debian_changelogs ALL DEPENDS ${VTBOX_DEB_CHANGELOGS})

# The runtime library package records its libraries for dpkg-shlibdeps of
# other packages and has ldconfig run; the command line package makes the
# user of unattended backups.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/dist/debian/triggers")
configure_file("${PROJECT_SOURCE_DIR}/dist/debian/vtbox.postinst" "${PROJECT_BINARY_DIR}/debian/vtbox/postinst" COPYONLY)
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_EXTRA "${PROJECT_BINARY_DIR}/debian/vtbox/postinst")
set(CPACK_DEBIAN_CLI_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "systemd")

include(CPack)
