# Windows: the image, the icon and the logo are resources of the program (.rc), read back with
# FindResource. An object library, since the linker would drop a resource object from an archive.
function(plcburn_builtin_image_target target image)
  get_filename_component(image_abs "${image}" ABSOLUTE)
  get_filename_component(image_name "${image}" NAME)
  if(NOT EXISTS "${image_abs}")
    message(FATAL_ERROR "PLCBURN_IMAGE ${image_abs} does not exist")
  endif()
  file(SHA256 "${image_abs}" image_sha256)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${image_abs}")
  set(PLCBURN_RES_DIR "${PROJECT_SOURCE_DIR}/res")
  set(PLCBURN_IMAGE_RC "${image_abs}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  configure_file(${PROJECT_SOURCE_DIR}/res/plcburn.rc.in "${rc}" @ONLY)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS
    "${image_abs};${PROJECT_SOURCE_DIR}/res/plcburn.ico;${PROJECT_SOURCE_DIR}/res/logo.bmp")
  plcburn_library(${target} OBJECT ${PROJECT_SOURCE_DIR}/res/builtin_image_win32.cpp "${rc}")
  target_link_libraries(${target} PUBLIC plcburn_core)
  target_compile_definitions(${target} PRIVATE PLCBURN_IMAGE_NAME="${image_name}"
                                                PLCBURN_IMAGE_SHA256="${image_sha256}")
endfunction()

plcburn_builtin_image_target(plcburn_builtin_image "${PLCBURN_IMAGE}")

# A VERSIONINFO resource for a program, from the project's version.
function(plcburn_version_resource target description)
  set(name "${target}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file(${PROJECT_SOURCE_DIR}/res/version.rc.in "${rc}" @ONLY)
  target_sources(${target} PRIVATE "${rc}")
endfunction()
