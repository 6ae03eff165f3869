# Compiler warnings, as targets to link rather than global flags, so that third-party code built
# in this tree (GoogleTest for the Windows build) keeps its own.
add_library(plcburn_warnings INTERFACE)
target_compile_options(plcburn_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wpedantic -Wshadow>
  $<$<AND:$<BOOL:${PLCBURN_WERROR}>,$<COMPILE_LANGUAGE:C,CXX>>:-Werror>)

# For the code that does byte arithmetic on the wire: a silent narrowing there corrupts a frame.
add_library(plcburn_strict_warnings INTERFACE)
target_link_libraries(plcburn_strict_warnings INTERFACE plcburn_warnings)
target_compile_options(plcburn_strict_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:C,CXX>:-Wconversion>)

# Every library's headers are included by their folder's name ("core/catalogue.h").
function(plcburn_library name)
  add_library(${name} ${ARGN})
  get_target_property(type ${name} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
  else()
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE plcburn_warnings)
  endif()
endfunction()
