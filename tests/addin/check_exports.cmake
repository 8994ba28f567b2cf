# Checks that the add-in library exports exactly the four Native API entry points.
# cmake -DLIBRARY=<path> -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [A-Za-z] [^\n]+" lines "${out}")
set(names)
foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${line}")
    list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected DestroyObject GetClassNames GetClassObject SetPlatformCapabilities)
if(NOT names STREQUAL expected)
    message(FATAL_ERROR "exported: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")
