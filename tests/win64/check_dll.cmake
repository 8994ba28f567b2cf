# The Windows add-in DLL imports system DLLs only (no C++ runtime, libgcc or winpthread
# DLL beside it) and exports exactly the four entry points, undecorated.
#   cmake -DLIBRARY=Oltranative_x64.dll -DOBJDUMP=x86_64-w64-mingw32-objdump -P check_dll.cmake
cmake_policy(SET CMP0057 NEW)
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p failed on ${LIBRARY}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(system kernel32 msvcrt ws2_32 iphlpapi advapi32 user32 shell32 ole32 oleaut32 crypt32
    bcrypt secur32 ntdll userenv)
set(names)
foreach(line ${imports})
  string(REGEX REPLACE "^DLL Name: ([^ \r]+).*" "\\1" dll "${line}")
  string(TOLOWER "${dll}" lower)
  string(REGEX REPLACE "\\.dll$" "" base "${lower}")
  list(APPEND names ${dll})
  if(NOT base IN_LIST system AND NOT base MATCHES "^api-ms-win-")
    message(FATAL_ERROR "imports a DLL that is not part of Windows: ${dll}")
  endif()
endforeach()
message(STATUS "imports: ${names}")

# The export name table: "[   0] Name" lines after "[Ordinal/Name Pointer] Table".
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at LESS 0)
  message(FATAL_ERROR "no export table in ${LIBRARY}")
endif()
string(SUBSTRING "${dump}" ${at} -1 tail)
string(REGEX MATCH "Table\n(\t\\[ *[0-9]+\\] [^\n]+\n)+" table "${tail}")
# Square brackets would upset CMake's lists: drop the "[   0] " columns first.
string(REGEX REPLACE "\t\\[ *[0-9]+\\] " "" table "${table}")
string(REGEX REPLACE "^Table\n" "" table "${table}")
string(STRIP "${table}" table)
string(REPLACE "\n" ";" exports "${table}")
list(SORT exports)
set(expected DestroyObject GetClassNames GetClassObject SetPlatformCapabilities)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exported: ${exports}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${exports}")
