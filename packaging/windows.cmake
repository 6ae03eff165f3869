# The Windows installation: the two programs, README.txt, LICENSE.txt and the notices side by
# side. CPack zips it (the portable zip); plcburn.nsi makes the installer from the same files.

# Text files with Windows line ends, so that every editor shows them right.
function(plcburn_windows_text source destination)
  file(READ "${source}" text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${CMAKE_CURRENT_BINARY_DIR}/${destination}" "${text}")
  install(FILES "${CMAKE_CURRENT_BINARY_DIR}/${destination}" DESTINATION ${CMAKE_INSTALL_DOCDIR})
endfunction()

get_filename_component(PLCBURN_IMAGE_NAME "${PLCBURN_IMAGE}" NAME)
configure_file(windows/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/README.in.txt @ONLY)
plcburn_windows_text(${CMAKE_CURRENT_BINARY_DIR}/README.in.txt README.txt)
plcburn_windows_text(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt)
plcburn_windows_text(THIRD-PARTY-NOTICES.txt THIRD-PARTY-NOTICES.txt)

set(PLCBURN_WINDOWS_PACKAGE plcburn-${PROJECT_VERSION}-win64)
configure_file(windows/plcburn.nsi.in ${CMAKE_CURRENT_BINARY_DIR}/plcburn.nsi @ONLY)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME ${PLCBURN_WINDOWS_PACKAGE})
