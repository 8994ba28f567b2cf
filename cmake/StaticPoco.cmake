# POCO for this tree: the static build of scripts/build-poco.sh (Foundation, Net, JSON),
# so that the add-in library carries its own copy and needs no POCO on the machine that
# loads it. Every find_package(Poco ...) of the tree then finds that build.
#
#   OLTRA_STATIC_POCO   ON (default): the static build; OFF: the system's POCO (Linux only)
#   OLTRA_POCO_PREFIX   its install prefix; default <build root>/poco/<linux|mingw64>/install,
#                       where <build root> is the parent of this build tree. Missing builds
#                       are made at configure time (several minutes on 2 cores).
option(OLTRA_STATIC_POCO "Link POCO statically (from scripts/build-poco.sh)" ON)
if(WIN32)
  set(OLTRA_STATIC_POCO ON CACHE BOOL "" FORCE)  # there is no system POCO for mingw
  set(_poco_target mingw64)
  set(_poco_config_dir cmake)
else()
  set(_poco_target linux)
  set(_poco_config_dir lib/cmake/Poco)
endif()

if(OLTRA_STATIC_POCO)
  get_filename_component(_build_root "${CMAKE_BINARY_DIR}/.." ABSOLUTE)
  set(OLTRA_POCO_PREFIX "${_build_root}/poco/${_poco_target}/install" CACHE PATH "Static POCO install prefix")
  if(NOT EXISTS "${OLTRA_POCO_PREFIX}/.built")
    get_filename_component(_poco_root "${OLTRA_POCO_PREFIX}/../../.." ABSOLUTE)
    message(STATUS "Building static POCO for ${_poco_target} in ${_poco_root}/poco")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env BUILD_ROOT=${_poco_root}
                bash ${PROJECT_SOURCE_DIR}/scripts/build-poco.sh ${_poco_target}
        RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "static POCO build failed (scripts/build-poco.sh ${_poco_target})")
    endif()
  endif()
  set(Poco_DIR "${OLTRA_POCO_PREFIX}/${_poco_config_dir}" CACHE PATH "POCO package configuration" FORCE)
  message(STATUS "POCO: static, ${OLTRA_POCO_PREFIX}")
endif()
