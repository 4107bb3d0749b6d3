# Where installed files go, relative to the install prefix, and the relative
# paths by which programs, libraries and data find one another. Nothing
# installed names the prefix itself, so a copied or moved tree keeps working.
#
# Components (one Debian package each, see cmake/Packaging.cmake):
#   runtime    the engine and platform libraries, the conversion settings
#   dev        headers, link names, pkg-config file, CMake package config
#   cli        vtbox, its manual, completions and systemd units
#   utility    the interactive utility, its language library, help, desktop entry
#   snmp       the SNMP element provider, its maps and vtbox-snmp
#   devicesim  the simulated device (for trying and testing)

set(VTBOX_INSTALL_PKGLIBDIR "${CMAKE_INSTALL_LIBDIR}/vtbox")   # modules loaded at run time
set(VTBOX_INSTALL_PKGDATADIR "${CMAKE_INSTALL_DATADIR}/vtbox")
set(VTBOX_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/vtBoxBRD")
set(VTBOX_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
set(VTBOX_INSTALL_UNITDIR "lib/systemd/system")
set(VTBOX_INSTALL_SYSUSERSDIR "lib/sysusers.d")

# vt_relative_dir(<out> <from> <to>): the path from one prefix-relative folder
# to another ("../lib/x86_64-linux-gnu"), "." when they are the same.
function(vt_relative_dir out from to)
  file(RELATIVE_PATH rel "/prefix/${from}" "/prefix/${to}")
  if(rel STREQUAL "")
    set(rel ".")
  endif()
  set(${out} "${rel}" PARENT_SCOPE)
endfunction()

vt_relative_dir(VTBOX_BIN_TO_LIB "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_LIBDIR}")
vt_relative_dir(VTBOX_BIN_TO_PKGLIB "${CMAKE_INSTALL_BINDIR}" "${VTBOX_INSTALL_PKGLIBDIR}")
vt_relative_dir(VTBOX_BIN_TO_PKGDATA "${CMAKE_INSTALL_BINDIR}" "${VTBOX_INSTALL_PKGDATADIR}")
vt_relative_dir(VTBOX_PKGLIB_TO_LIB "${VTBOX_INSTALL_PKGLIBDIR}" "${CMAKE_INSTALL_LIBDIR}")
vt_relative_dir(VTBOX_PKGLIB_TO_PKGDATA "${VTBOX_INSTALL_PKGLIBDIR}" "${VTBOX_INSTALL_PKGDATADIR}")
vt_relative_dir(VTBOX_LIB_TO_PKGDATA "${CMAKE_INSTALL_LIBDIR}" "${VTBOX_INSTALL_PKGDATADIR}")

# Programs find the libraries through their own folder; libraries find each
# other beside themselves; run-time modules one level up.
set(CMAKE_INSTALL_RPATH "$ORIGIN/${VTBOX_BIN_TO_LIB}")
set(CMAKE_INSTALL_RPATH_USE_LINK_PATH ON)
set(VTBOX_LIBRARY_RPATH "$ORIGIN")
set(VTBOX_MODULE_RPATH "$ORIGIN/${VTBOX_PKGLIB_TO_LIB}")
