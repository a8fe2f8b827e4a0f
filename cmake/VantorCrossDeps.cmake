# Dependencies of a cross build (mingw-w64 for Windows), taken from the build machine's Debian
# packages where they are sources or headers only:
# - nlohmann_json: header-only. Its headers are copied into the build tree, because pointing the
#   cross compiler at the host's /usr/include would put glibc's headers in front of mingw's.
# - GoogleTest: Debian's googletest package ships its sources; they are built with the cross
#   compiler (only when a test links them).
set(VANTOR_HOST_INCLUDE_DIR /usr/include CACHE PATH "Host include folder holding nlohmann/json.hpp")
set(VANTOR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")

function(vantor_cross_nlohmann_json)
  if(TARGET nlohmann_json::nlohmann_json)
    return()
  endif()
  if(NOT EXISTS ${VANTOR_HOST_INCLUDE_DIR}/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann/json.hpp not found in ${VANTOR_HOST_INCLUDE_DIR} (install nlohmann-json3-dev)")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/cross-include)
  file(COPY ${VANTOR_HOST_INCLUDE_DIR}/nlohmann DESTINATION ${dir})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${dir})
endfunction()

function(vantor_cross_googletest)
  if(TARGET GTest::gtest)
    return()
  endif()
  if(NOT EXISTS ${VANTOR_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${VANTOR_GTEST_SOURCE_DIR} (install googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # SYSTEM keeps GoogleTest's headers out of the project's warnings, as an installed package is.
  if(CMAKE_VERSION VERSION_GREATER_EQUAL 3.25)
    add_subdirectory(${VANTOR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    add_subdirectory(${VANTOR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endfunction()
