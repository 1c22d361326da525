# The Debian package tolvan-tool: `cpack -G DEB` in a build folder, or
# scripts/package. Included last by the top-level CMakeLists.txt; it only
# writes CPackConfig.cmake and adds the package targets.
set(TOLVAN_PACKAGE_MAINTAINER "Tolvan Tool maintainers <tolvan-tool@localhost>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvan-tool)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tolvan Tool")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for professional two-way radios")
set(CPACK_PACKAGE_CONTACT ${TOLVAN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build; the package ships what runs.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TOLVAN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt 6, the C++ runtime and libc, as dpkg-shlibdeps finds them in the programs
# (Qt's xcb platform plugin comes with libqt6gui6).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The icon theme and the MIME database that make *.tvn archives show our icon;
# their dpkg triggers pick up the installed files.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hicolor-icon-theme, shared-mime-info, desktop-file-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
Programs codeplug archives (*.tvn) into a radio on a serial port, reads and
writes its Temp Comp value and its serial number, and chooses the radio's
port. Contains the desktop application tolvan_ide, the command-line tool
tolvan and a simulated radio, tolvan-radiosim.

Serial ports belong to the group dialout: a user must be in it to reach a
radio (sudo usermod -aG dialout USER, then log in again).")

include(CPack)
