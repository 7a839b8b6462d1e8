enable_testing()
include(GoogleTest)

# tolven_add_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s])
# A GoogleTest program run under Wine, one CTest test per test case (listed when CTest runs,
# so the listing itself goes through the shared wineserver).
#
# Every program shares one Wine prefix: its registry, its service control manager, its named objects
# and its display. Two test cases running at once would see each other's service, settings and
# windows, so they all hold one lock: "ctest -j N" runs them one after the other (N only speeds up
# the listing), and stays green.
# Each program also links the leftover check (tests/support/leftovers.cpp): a program killed by its
# time-out cannot leave the "Sentry" service behind for the next one.
function(tolven_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES} $<TARGET_OBJECTS:testsupport_leftovers>)
  target_link_libraries(${name} PRIVATE testsupport gtest_main gtest ${T_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "TOLVEN_TEST_TIMEOUT=${T_TIMEOUT}" RESOURCE_LOCK wineprefix)
endfunction()
