# comserver_core: the driver string, the settings and work log, the result texts and
# error record, and the message-box routine. Linked by PELTRA44 and its tests.
#
# Resources (compiled with windres, linked as objects; link them directly, objects do
# not pass through static libraries):
#   comserver_resources     the string tables (error texts, needed wherever the error
#                           descriptions are composed) and the version block
#   comserver_ui_resources  icon 101 and the status dialog 102
# COMSERVER_RESOURCE_DIR names comserver/resources for .rc files that include them.
enable_language(RC)

set(COMSERVER_RESOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/resources)

add_library(comserver_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/code_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_string.cpp
  ${CMAKE_CURRENT_LIST_DIR}/errors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/work_log.cpp)
include_root(comserver_core PUBLIC)
# errors.h names the result codes of the serial protocol ("serialproto/result_codes.h").
target_link_libraries(comserver_core PUBLIC serialproto ole32 oleaut32 uuid user32 kernel32)
# The fixed Russian texts of the log are written in UTF-8 and compiled to the ANSI
# page the program runs with.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/work_log.cpp PROPERTIES
  COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP1251")

configure_file(${COMSERVER_RESOURCE_DIR}/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/version.rc @ONLY)
add_library(comserver_resources OBJECT
  ${COMSERVER_RESOURCE_DIR}/strings.rc
  ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
add_library(comserver_ui_resources OBJECT ${COMSERVER_RESOURCE_DIR}/ui.rc)
foreach(t comserver_resources comserver_ui_resources)
  # The compilers' warning options mean nothing to the resource compiler.
  set_property(TARGET ${t} PROPERTY COMPILE_OPTIONS "")
  target_include_directories(${t} PRIVATE ${COMSERVER_RESOURCE_DIR})
endforeach()
