# GoogleTest for the Windows cross build, compiled from the sources Debian's googletest package
# installs (/usr/src/googletest): no prebuilt library exists for mingw-w64.
set(PLCBURN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS "${PLCBURN_GOOGLETEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "GoogleTest sources not found in ${PLCBURN_GOOGLETEST_SOURCE}: "
                      "apt-get install googletest")
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${PLCBURN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
