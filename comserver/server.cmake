# PELTRA44.exe: the COM local server (process, class factory, automation object, tray
# window and status dialog), with the type library and the resources of comserver_core.
set(_dir ${CMAKE_CURRENT_LIST_DIR})
set(PELTRA44_SOURCES
  ${_dir}/main.cpp
  ${_dir}/class_factory.cpp
  ${_dir}/fiscal_printer.cpp
  ${_dir}/fiscal_printer_commands.cpp
  ${_dir}/registration.cpp
  ${_dir}/tray_window.cpp)
add_executable(PELTRA44 WIN32 ${PELTRA44_SOURCES})
# Russian event and box texts are written in UTF-8 and compiled to the ANSI page.
set_source_files_properties(${_dir}/main.cpp ${_dir}/fiscal_printer.cpp
  ${_dir}/fiscal_printer_commands.cpp ${_dir}/registration.cpp
  PROPERTIES COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP1251")
target_link_libraries(PELTRA44 PRIVATE peltra44_typelib)
if(TARGET comserver_core)
  target_link_libraries(PELTRA44 PRIVATE comserver_core comserver_resources comserver_ui_resources)
endif()
target_link_libraries(PELTRA44 PRIVATE ole32 oleaut32 uuid user32 advapi32 shell32 gdi32)
