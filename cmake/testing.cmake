enable_testing()
include(GoogleTest)

# tolven_add_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s])
# A GoogleTest program run under Wine, one CTest test per test case (listed when CTest runs,
# so the listing itself goes through the shared wineserver).
function(tolven_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE testsupport gtest_main gtest ${T_LIBS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "TOLVEN_TEST_TIMEOUT=${T_TIMEOUT}")
endfunction()
