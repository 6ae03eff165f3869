# nlohmann-json, header-only, from the Debian package. The mingw build cannot search the Linux
# include folder (its headers would shadow mingw's), so it sees the package's headers through a
# folder of the build tree that holds them alone.
if(CMAKE_CROSSCOMPILING AND WIN32)
  find_path(PLCBURN_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
            NO_DEFAULT_PATH REQUIRED)
  set(only_json ${PROJECT_BINARY_DIR}/nlohmann_json_include)
  file(MAKE_DIRECTORY ${only_json})
  file(CREATE_LINK ${PLCBURN_NLOHMANN_INCLUDE}/nlohmann ${only_json}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${only_json})
else()
  find_package(nlohmann_json 3.10 REQUIRED)
endif()
