# The header-only and source-built libraries of the Windows cross build.

# CLI11 is header-only, but its folder must not bring /usr/include (the host's
# C library headers) into the cross build: it gets a folder of its own.
set(KESTREL_CLI11_INCLUDE ${CMAKE_BINARY_DIR}/cross-include)
if(NOT EXISTS ${KESTREL_CLI11_INCLUDE}/CLI/CLI.hpp)
  if(NOT EXISTS /usr/include/CLI/CLI.hpp)
    message(FATAL_ERROR "CLI11 is missing: scripts/install-deps installs libcli11-dev")
  endif()
  file(MAKE_DIRECTORY ${KESTREL_CLI11_INCLUDE})
  file(COPY /usr/include/CLI DESTINATION ${KESTREL_CLI11_INCLUDE})
endif()
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KESTREL_CLI11_INCLUDE})

# The tests' JSON parser, header-only too, beside it.
if(NOT EXISTS ${KESTREL_CLI11_INCLUDE}/nlohmann/json.hpp AND EXISTS /usr/include/nlohmann/json.hpp)
  file(COPY /usr/include/nlohmann DESTINATION ${KESTREL_CLI11_INCLUDE})
endif()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${KESTREL_CLI11_INCLUDE})

# googletest from Debian's sources, built for the target.
if(BUILD_TESTING OR NOT DEFINED BUILD_TESTING)
  set(KESTREL_GOOGLETEST_SOURCE /usr/src/googletest)
  if(EXISTS ${KESTREL_GOOGLETEST_SOURCE}/CMakeLists.txt)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${KESTREL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
endif()
