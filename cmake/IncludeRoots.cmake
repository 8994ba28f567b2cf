# Include roots: every library publishes its own headers and nothing else.
#
# Project headers are included by their path from the repository root ("netclient/http_client.h",
# "simulators/netreg/netsim.h"). Instead of the repository root, a library publishes a
# directory of the build tree, <build>/include-roots/<name>, that holds one symbolic link,
# <repository path> -> the library's source directory. Whoever links netclient finds
# "netclient/..." and nothing beside it: "addin/oltranative.h" does not compile there
# (tests/arrows checks the arrows that must not exist). The links are made when CMake
# configures; headers added later are found through them without configuring again.
#
#   include_root(<target> <PUBLIC|PRIVATE|INTERFACE> [DIR <repository path>] [FILES <headers...>])
#     adds the root of DIR (default: the calling directory) to the target's include path.
#     With FILES the root is the target's own and holds links to those headers of DIR only
#     (addin_native_api: addin/native_api.h and not the rest of addin/).
#   make_include_root(<var> <name> <repository path> [<headers...>])
#     makes the root <name> and sets <var> to it, for what is not a target (a custom
#     command's -I).
get_filename_component(OLTRA_REPOSITORY_ROOT ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(OLTRA_INCLUDE_ROOTS ${CMAKE_BINARY_DIR}/include-roots)

function(make_include_root var name dir)
  set(root ${OLTRA_INCLUDE_ROOTS}/${name})
  if(ARGN)
    set(links "")
    foreach(header ${ARGN})
      list(APPEND links ${dir}/${header})
    endforeach()
  else()
    set(links ${dir})
  endif()
  foreach(link ${links})
    if(NOT EXISTS ${OLTRA_REPOSITORY_ROOT}/${link})
      message(FATAL_ERROR "include root ${name}: no ${link} in the repository")
    endif()
    get_filename_component(parent ${root}/${link} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    set(current "")
    if(IS_SYMLINK ${root}/${link})
      file(READ_SYMLINK ${root}/${link} current)
    endif()
    if(NOT current STREQUAL ${OLTRA_REPOSITORY_ROOT}/${link})
      file(REMOVE ${root}/${link})
      file(CREATE_LINK ${OLTRA_REPOSITORY_ROOT}/${link} ${root}/${link} SYMBOLIC)
    endif()
  endforeach()
  set(${var} ${root} PARENT_SCOPE)
endfunction()

function(include_root target scope)
  cmake_parse_arguments(R "" "DIR" "FILES" ${ARGN})
  if(NOT R_DIR)
    file(RELATIVE_PATH R_DIR ${OLTRA_REPOSITORY_ROOT} ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(R_FILES)
    set(name ${target})
  else()
    string(REPLACE "/" "." name ${R_DIR})
  endif()
  make_include_root(root ${name} ${R_DIR} ${R_FILES})
  target_include_directories(${target} ${scope} ${root})
endfunction()
