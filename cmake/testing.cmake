# GoogleTest, built from source with the same toolchain as the suite.
set(TOVRA_GTEST_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree (Debian's googletest package)")
if(EXISTS "${TOVRA_GTEST_DIR}/CMakeLists.txt")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory("${TOVRA_GTEST_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
  add_library(gtest ALIAS GTest::gtest)
endif()
add_library(tovra_gtest_main STATIC
  ${PROJECT_SOURCE_DIR}/tests/gtest_main.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_include_directories(tovra_gtest_main PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tovra_gtest_main PUBLIC gtest shlwapi tovra_shared)  # RemoveTree walks with the suite's file layer
