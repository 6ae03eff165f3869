# Where an installation puts things: the GNU directories under the prefix, and the udev rule in
# udev's own rules directory, which does not move with the prefix (udev reads no other but /etc).
# On Windows the programs sit at the top of their folder, beside the licence.
if(WIN32)
  set(CMAKE_INSTALL_BINDIR . CACHE PATH "Programs")
  set(CMAKE_INSTALL_DOCDIR . CACHE PATH "Licence and notices")
endif()
include(GNUInstallDirs)
if(NOT WIN32)
  find_package(PkgConfig QUIET)
  set(udevdir "")
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(udevdir udev udevdir)
  endif()
  if(NOT udevdir)
    set(udevdir /usr/lib/udev)
  endif()
  set(PLCBURN_UDEVDIR "${udevdir}" CACHE PATH "udev's directory: the rule goes to its rules.d")
  set(PLCBURN_UDEV_RULE "${PLCBURN_UDEVDIR}/rules.d/60-plcburn.rules")
  # The troubleshooting guide, installed with the documentation.
  set(PLCBURN_GUIDE "${CMAKE_INSTALL_FULL_DOCDIR}/troubleshooting.md")
endif()
