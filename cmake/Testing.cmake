# GoogleTest for both trees.
# Native: the system package. Windows: built from the sources Debian ships in
# /usr/src/googletest with the mingw compiler.
if(WIN32)
  set(GTEST_SRC_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SRC_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources are not ours to warn about.
  foreach(t gtest gtest_main gmock gmock_main)
    if(TARGET ${t})
      target_compile_options(${t} PRIVATE -w)
      if(NOT TARGET GTest::${t})
        add_library(GTest::${t} ALIAS ${t})
      endif()
    endif()
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Test discovery runs the test binary; under Wine that is slow, so Windows-side
# tests are discovered when CTest runs, not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# test_label(VAR [LABELS...]): the first of LABELS, else the tree's (win or native).
function(test_label var)
  if(ARGN)
    list(GET ARGN 0 label)
  elseif(WIN32)
    set(label win)
  else()
    set(label native)
  endif()
  set(${var} ${label} PARENT_SCOPE)
endfunction()

# The unit set (ctest -L unit): the native tree's tests that need no root, no network
# namespace (SSDP multicast, veth pairs), no Wine, no Xvfb, no browser and no long run.
# Every test add_gtest and add_fuzz_target register in the native tree is in it unless
# its NOT_UNIT says otherwise; a test added with add_test joins it through unit_tests().

# unit_tests(TEST...): the named tests (their LABELS already set) also carry unit.
function(unit_tests)
  if(NOT WIN32)
    set_property(TEST ${ARGN} APPEND PROPERTY LABELS unit)
  endif()
endfunction()

# add_gtest(name SOURCES... [LIBS ...] [LABELS ...] [NOT_UNIT filter])
#   NOT_UNIT: a GoogleTest filter ("Suite.*:Other.Case") of the cases left out of the
#   unit set, "*" for all of them.
function(add_gtest name)
  cmake_parse_arguments(T "" "NOT_UNIT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock ${T_LIBS})
  # gtest_discover_tests splits its PROPERTIES at semicolons, so a test gets one label
  # there (the group's, or the tree's when none is given); the unit cases get their
  # second label from a CTest script run after the discovery, from the list of the
  # cases the discovery found.
  test_label(label ${T_LABELS})
  set(props DISCOVERY_TIMEOUT 120 PROPERTIES LABELS ${label} TIMEOUT 300)
  if(WIN32 OR T_NOT_UNIT STREQUAL "*")
    gtest_discover_tests(${name} ${props})
    return()
  endif()
  if(T_NOT_UNIT)
    gtest_discover_tests(${name} TEST_FILTER "${T_NOT_UNIT}" TEST_LIST ${name}_other_TESTS ${props})
    gtest_discover_tests(${name} TEST_FILTER "-${T_NOT_UNIT}" TEST_LIST ${name}_unit_TESTS ${props})
  else()
    gtest_discover_tests(${name} TEST_LIST ${name}_unit_TESTS ${props})
  endif()
  set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_unit.cmake)
  file(WRITE ${script}
    "foreach(t IN LISTS ${name}_unit_TESTS)\n"
    "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${label};unit\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
endfunction()
