# Runs addin-host against the add-in: the listing, and a script of commands on one
# component. cmake -DHOST=<addin-host> -DLIBRARY=<so> -DSCRIPT=<file> -P check_cli.cmake
execute_process(COMMAND ${HOST} --list ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "addin-host --list failed (${rc}):\n${out}")
endif()
foreach(expect "Class names: Oltranative\n" "Methods: 33\n" "Properties: 19\n"
        "  22  SearchIP \\| ПолучитIP \\| params 1" "  16  Password \\| Пароль \\| W\n"
        "Memory: allocated [1-9][0-9]*, freed [1-9][0-9]*, outstanding 0 ")
    if(NOT out MATCHES "${expect}")
        message(FATAL_ERROR "missing '${expect}' in:\n${out}")
    endif()
endforeach()

# The script's fiscal call fails (no register): exit 1 without --keep-going, the last
# command not run; 0 with it... except that the failed call still counts as failed.
execute_process(COMMAND ${HOST} ${LIBRARY} --script ${SCRIPT} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 1 OR out MATCHES "get Version")
    message(FATAL_ERROR "script without --keep-going (${rc}):\n${out}")
endif()
execute_process(COMMAND ${HOST} --keep-going ${LIBRARY} --script ${SCRIPT} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
foreach(expect "call GetVersion: CallAsFunc true, result PWSTR \"1.56 64bit\"\n"
        "set IP str:127.0.0.1: ok\n" "get IP: PWSTR \"127.0.0.1\"\n"
        "call Подключить str:: CallAsFunc false" "call PrintXReport: CallAsFunc false, result BOOL false\n  AddError: wcode 1001, scode 1001, source \"Драйвер ФР Oltra\""
        "  arg 6: PWSTR \"https://veltor.ua/drivers/oltra/1.56/Zovovariri.exe\"\n"
        "get Version: PWSTR \"1.56 64bit\"\n" "outstanding 0 ")
    if(NOT out MATCHES "${expect}")
        message(FATAL_ERROR "missing '${expect}' in:\n${out}")
    endif()
endforeach()
if(NOT rc EQUAL 1)
    message(FATAL_ERROR "a failed call must still give exit status 1 (${rc})")
endif()

execute_process(COMMAND ${HOST} ${LIBRARY} call GetVersion i4:x RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 2)
    message(FATAL_ERROR "a bad argument must be a usage error (${rc})")
endif()
