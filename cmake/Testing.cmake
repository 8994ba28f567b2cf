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

# add_gtest(name SOURCES... [LIBS ...] [LABELS ...])
function(add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main GTest::gmock ${T_LIBS})
  # gtest_discover_tests splits its PROPERTIES at semicolons, so a test carries one
  # label: the group's, or the tree's when none is given.
  test_label(label ${T_LABELS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES LABELS ${label} TIMEOUT 300)
endfunction()
