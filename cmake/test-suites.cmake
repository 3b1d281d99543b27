# Registers the GoogleTest cases of xbtests with ctest (included by
# cmake/tests.cmake on Linux).
#
# case:  gtest_discover_tests, one ctest test per case. The cases are listed
#        when ctest runs rather than after the link, so that the listing runs
#        with the sanitizer settings of the test run (tools/run-tests.sh).
# suite: one ctest test per suite, named "Suite.*". The suites are read from
#        the test sources (TEST, TEST_F, TEST_P, TYPED_TEST...); a last test,
#        "OtherSuites", runs every case the listed suites do not cover, so a
#        suite the scan misses still runs.

if(XB_TEST_GRANULARITY STREQUAL "case")
  include(GoogleTest)
  gtest_discover_tests(xbtests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120)
  return()
endif()

set(xb_suites "")
foreach(src ${XB_TEST_SOURCES})
  file(STRINGS ${src} lines REGEX "^[ \t]*(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)[ \t]*\\([ \t]*[A-Za-z_][A-Za-z0-9_]*")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*[A-Z_]+[ \t]*\\([ \t]*([A-Za-z_][A-Za-z0-9_]*).*" "\\1" suite "${line}")
    list(APPEND xb_suites ${suite})
  endforeach()
endforeach()
# A change to a test source may add a suite: configure again then.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${XB_TEST_SOURCES})
list(REMOVE_DUPLICATES xb_suites)
list(SORT xb_suites)

set(xb_covered "")
foreach(suite ${xb_suites})
  # Plain, parameterised (Prefix/Suite.Case/N) and typed (Suite/N.Case) names.
  set(pattern "${suite}.*:${suite}/*:*/${suite}.*:*/${suite}/*")
  add_test(NAME "${suite}.*" COMMAND xbtests "--gtest_filter=${pattern}")
  set_tests_properties("${suite}.*" PROPERTIES TIMEOUT 600)
  string(APPEND xb_covered ":${pattern}")
endforeach()
if(xb_covered)
  string(SUBSTRING "${xb_covered}" 1 -1 xb_covered)
endif()
add_test(NAME OtherSuites COMMAND xbtests "--gtest_filter=-${xb_covered}")
set_tests_properties(OtherSuites PROPERTIES TIMEOUT 600)
