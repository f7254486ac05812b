# The project's options and their defaults, chosen for someone who builds and installs the
# library: Release, no test dependency unless GoogleTest is there, warnings as warnings.

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Build type (Release when none is given)" FORCE)
endif()

# Tests need GoogleTest: the host's package, or for a cross build its sources.
set(ZAM_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT DEFINED ZAM_BUILD_TESTS AND PROJECT_IS_TOP_LEVEL)
  set(zam_gtest_found OFF)
  if(CMAKE_CROSSCOMPILING)
    if(EXISTS ${ZAM_GTEST_SOURCE_DIR}/CMakeLists.txt)
      set(zam_gtest_found ON)
    endif()
  else()
    find_package(GTest QUIET)
    set(zam_gtest_found ${GTest_FOUND})
  endif()
  if(NOT zam_gtest_found)
    message(STATUS "GoogleTest not found: tests not built (-DZAM_BUILD_TESTS=ON requires them)")
  endif()
endif()
if(NOT DEFINED zam_gtest_found)
  set(zam_gtest_found OFF)
endif()

option(ZAM_BUILD_TESTS "Build the tests (default: when GoogleTest is found)" ${zam_gtest_found})
option(ZAM_BUILD_TOOLS "Build tarvexmux-server and tarvexmux-client" ${PROJECT_IS_TOP_LEVEL})
option(ZAM_BUILD_BENCH "Build the benchmarks (Google Benchmark)" OFF)
option(ZAM_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(ZAM_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (the project's own builds)" OFF)
option(ZAM_USE_PLATFORM_LIBS "Link the board's libzamipc and libdlog instead of ours" OFF)
option(ZAM_INSTALL_TESTS "Install the tests and run-ptest too (component ptest)" OFF)
if(ZAM_INSTALL_TESTS AND NOT ZAM_BUILD_TESTS)
  message(FATAL_ERROR "ZAM_INSTALL_TESTS=ON needs the tests built (ZAM_BUILD_TESTS=ON)")
endif()
set(ZAM_SANITIZER "none" CACHE STRING
    "Sanitizers for every target: none, address, undefined or address,undefined")
