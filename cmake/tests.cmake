# Unit tests: GoogleTest built from source for each target (the distribution's
# prebuilt libraries are 64-bit).
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
set(XB_GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
add_subdirectory(${XB_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB_RECURSE XB_TEST_SOURCES CONFIGURE_DEPENDS tests/*.cpp)
set(XB_TEST_OBJECTS $<TARGET_OBJECTS:xbcore>)
foreach(lib xbasm xbcompiler xbdriver xbstdmodules)
  if(TARGET ${lib})
    list(APPEND XB_TEST_OBJECTS $<TARGET_OBJECTS:${lib}>)
  endif()
endforeach()
add_executable(xbtests ${XB_TEST_SOURCES} ${XB_TEST_OBJECTS})
target_include_directories(xbtests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(xbtests PRIVATE gtest gtest_main)
target_compile_definitions(xbtests PRIVATE XB_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
if(NOT WIN32)
  # One ctest test per test case, or per test suite where starting a process
  # is dear: under qemu-user (kernels without 32-bit support, see
  # tools/host-setup.sh) every start of an i386 program costs a fraction of a
  # second, more with the sanitizers. The x86_64 build runs natively.
  if(XB_ARCH STREQUAL "i386" AND EXISTS /proc/sys/fs/binfmt_misc/xb-i386)
    set(XB_TEST_DEFAULT_GRANULARITY suite)
  else()
    set(XB_TEST_DEFAULT_GRANULARITY case)
  endif()
  set(XB_TEST_GRANULARITY ${XB_TEST_DEFAULT_GRANULARITY} CACHE STRING
    "One ctest test per GoogleTest case or per suite (case|suite)")
  set_property(CACHE XB_TEST_GRANULARITY PROPERTY STRINGS case suite)
  include(cmake/test-suites.cmake)
  # The folders keep their layers (docs/architecture.md), and the check
  # itself finds what it should.
  add_test(NAME CheckLayers COMMAND bash ${CMAKE_SOURCE_DIR}/tests/check_layers_test.sh ${CMAKE_SOURCE_DIR})
  # The package set-up's fallbacks, against a stand-in package manager.
  add_test(NAME HostSetup.WineInstallFallsBackToTheDistributionSuite
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/scripts/host_setup_test.sh)
endif()

# The whole suite once more under the classic engine: every program the tests
# run must give what they expect under both engines (the fast one is the
# default; tests/engine_test.cpp and tests/engine_diff_posix_test.cpp compare
# the two directly). Not in the sanitizer builds, for time: the engines'
# differential tests run there, and the plain builds run this pass.
if(NOT WIN32 AND NOT XB_SANITIZE)
  add_test(NAME ClassicEngine COMMAND xbtests "--gtest_filter=-Engine.*:EngineDiff.*")
  # Alone: the whole suite in one process shares table names with the
  # per-case tests that would otherwise run beside it.
  set_tests_properties(ClassicEngine PROPERTIES ENVIRONMENT "XB_ENGINE=classic" TIMEOUT 1800 RUN_SERIAL TRUE)
endif()
