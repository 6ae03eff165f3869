# The Linux installation and its Debian package (CPack DEB).

# udev reads its own directory and /etc only: the rule goes there whatever the prefix.
install(FILES ${PROJECT_SOURCE_DIR}/res/60-plcburn.rules DESTINATION ${PLCBURN_UDEVDIR}/rules.d)

# The burning station as a service, installed disabled, and its settings (a conffile).
set(PLCBURN_CLI_PATH ${CMAKE_INSTALL_FULL_BINDIR}/plcburn-cli)
configure_file(station/plcburn-station.service.in plcburn-station.service @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/plcburn-station.service
        DESTINATION ${PLCBURN_SYSTEMDUNITDIR})
install(FILES station/station.conf DESTINATION /etc/plcburn)

if(TARGET plcburn)
  set(PLCBURN_APPSTREAM_ID org.plcburn.plcburn)
  install(FILES ${PROJECT_SOURCE_DIR}/res/plcburn.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The theme files icons by their size: read it from the PNG header (width, height at 16).
  set(icon ${PROJECT_SOURCE_DIR}/res/plcburn.png)
  file(READ ${icon} header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 8 width)
  string(SUBSTRING "${header}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  install(FILES ${icon}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${width}x${height}/apps)
  set(metainfo ${CMAKE_CURRENT_BINARY_DIR}/${PLCBURN_APPSTREAM_ID}.metainfo.xml)
  configure_file(plcburn.metainfo.xml.in ${metainfo} @ONLY)
  install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  set(PLCBURN_METAINFO ${metainfo} PARENT_SCOPE)
endif()

# Man pages, made by help2man from each program's --help and --version.
set(PLCBURN_MANPAGES AUTO CACHE STRING "Make the man pages with help2man: ON, OFF or AUTO")
find_program(HELP2MAN help2man)
if(PLCBURN_MANPAGES STREQUAL "ON" AND NOT HELP2MAN)
  message(FATAL_ERROR "help2man not found: apt-get install help2man")
endif()
if(HELP2MAN AND PLCBURN_MANPAGES)
  set(pages "")
  foreach(program plcburn plcburn-cli plcsim)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
    set(include ${CMAKE_CURRENT_SOURCE_DIR}/man/${program}.h2m)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${HELP2MAN} --no-info --section=1 --manual "User Commands"
              --include=${include} --output=${page} $<TARGET_FILE:${program}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${program} ${include}
      COMMENT "Man page ${program}(1)"
      VERBATIM)
    list(APPEND pages ${page}.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found or PLCBURN_MANPAGES off: no man pages")
endif()

# Debian's documentation files: the licence in its copyright format, and a changelog.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE terms)
string(REGEX REPLACE "^.*\nCopyright[^\n]*\n\n" "" terms "${terms}")
string(REGEX REPLACE "\n+$" "" terms "${terms}")
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " PLCBURN_LICENSE_TEXT " ${terms}")
string(REGEX REPLACE "^Copyright \\(c\\) " "" PLCBURN_COPYRIGHT_YEARS_HOLDER "${PLCBURN_COPYRIGHT}")
configure_file(debian/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)
execute_process(COMMAND date -u -R -d "${PLCBURN_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE PLCBURN_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_CURRENT_BINARY_DIR}/changelog
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
              THIRD-PARTY-NOTICES.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# An operator has no sources at hand: the troubleshooting guide and its picture go along.
install(FILES ${PROJECT_SOURCE_DIR}/docs/troubleshooting.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/images/status-panel.png
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/images)
# So does the station's guide: the service, the window and what Prometheus scrapes and alerts on.
install(FILES ${PROJECT_SOURCE_DIR}/docs/station.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/images/station.png
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/images)
install(FILES ${PROJECT_SOURCE_DIR}/docs/prometheus/prometheus.yml
              ${PROJECT_SOURCE_DIR}/docs/prometheus/plcburn-rules.yml
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/prometheus)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "plcburn writes a firmware image into a PLC of the Tavrion family (17 models)\n"
    "over a serial port or the PLC's USB interface: it talks the application\n"
    "firmware into its boot loader, erases it and sends the image in CRC-checked\n"
    "blocks.\n"
    "\n"
    "The package holds the window plcburn, the same burn from a terminal\n"
    "(plcburn-cli), the PLC simulator plcsim, the udev rule that lets the\n"
    "user at the seat open the PLC's USB interface, and the service\n"
    "plcburn-station, installed disabled, which burns every PLC plugged into\n"
    "a burning station.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst ${CMAKE_CURRENT_SOURCE_DIR}/debian/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm ${CMAKE_CURRENT_SOURCE_DIR}/debian/conffiles)
# postinst makes the station's user; shlibdeps adds the libraries' packages to this.
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/debian/strip_sections.cmake)
