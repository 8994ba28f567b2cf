# PELTRA44.exe: the COM local server (process state, class factory, automation object,
# tray window and status dialog), with the type library and the resources of
# comserver_core.
#   peltra44_server  everything but the entry point (also linked by the server's tests)
#   PELTRA44         the program
set(_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(peltra44_server STATIC
  ${_dir}/class_factory.cpp
  ${_dir}/fiscal_printer.cpp
  ${_dir}/fiscal_printer_commands.cpp
  ${_dir}/logo_commands.cpp
  ${_dir}/programming_commands.cpp
  ${_dir}/registration.cpp
  ${_dir}/report_commands.cpp
  ${_dir}/serial_link.cpp
  ${_dir}/server_process.cpp
  ${_dir}/tray_window.cpp)
include_root(peltra44_server PUBLIC)
# Russian event and box texts are written in UTF-8 and compiled to the ANSI page.
set_source_files_properties(${_dir}/main.cpp ${_dir}/fiscal_printer.cpp
  ${_dir}/fiscal_printer_commands.cpp ${_dir}/registration.cpp
  PROPERTIES COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP1251")
# The type library's objects (GUIDs and the TYPELIB resource) are linked into each
# program directly: a resource in a static library would not be pulled in.
target_include_directories(peltra44_server SYSTEM PUBLIC $<TARGET_PROPERTY:peltra44_typelib,INTERFACE_INCLUDE_DIRECTORIES>)
add_dependencies(peltra44_server peltra44_typelib)
# The serial register protocol (link layer, Win32 port, command codecs) and the
# record objects.
target_link_libraries(peltra44_server PUBLIC comserver_core comserver_records serialproto)
target_link_libraries(peltra44_server PUBLIC ole32 oleaut32 uuid user32 advapi32 shell32 gdi32)

add_executable(PELTRA44 WIN32 ${_dir}/main.cpp)
target_link_libraries(PELTRA44 PRIVATE peltra44_server peltra44_typelib comserver_resources comserver_ui_resources)

# What a C++ client compiles against, beside the program: the header and the interface
# identifiers made from the type library's IDL (the IDL itself is UTF-8 with doc strings
# that the build prepares for the compiler first), and the type library.
add_custom_target(peltra44_sdk ALL
  COMMAND ${CMAKE_COMMAND} -E copy_if_different
    ${CMAKE_CURRENT_BINARY_DIR}/typelib/peltra44_h.h ${CMAKE_CURRENT_BINARY_DIR}/typelib/peltra44_i.c
    ${CMAKE_CURRENT_BINARY_DIR}/typelib/peltra44.tlb $<TARGET_FILE_DIR:PELTRA44>
  COMMENT "Placing peltra44_h.h, peltra44_i.c and peltra44.tlb beside PELTRA44.exe")
add_dependencies(peltra44_sdk PELTRA44 peltra44_typelib)
