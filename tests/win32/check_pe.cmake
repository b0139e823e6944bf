cmake_minimum_required(VERSION 3.25)
# Checks a Windows module's PE tables with objdump -p:
#   exports: exactly the host's entry points (plus EXTRA), by undecorated name;
#   imports: system DLLs only, so the module loads on a bare system.
# cmake -DOBJDUMP=... -DMODULE=KM4R.dll [-DEXTRA=name;...] -P check_pe.cmake
get_filename_component(name ${MODULE} NAME)
if(NOT name STREQUAL "KM4R.dll")
  message(FATAL_ERROR "module is named ${name}, expected KM4R.dll")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${out}")

set(exports "")
set(imports "")
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
    list(APPEND exports ${CMAKE_MATCH_1})
  elseif(in_names)
    set(in_names FALSE)
  endif()
  if(line MATCHES "DLL Name: (.+)$")
    list(APPEND imports ${CMAKE_MATCH_1})
  endif()
endforeach()

set(expected SetProName InitControl PostInitControl Config Update StopPlug DoDwell Reset JogOn
    JogOff Purge Probe Home SetDoButton SetSetDRO SetGetDRO SetGetLED SetSetLED SetCode
    DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow ${EXTRA})
list(SORT expected)
list(SORT exports)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  found:    ${exports}\n  expected: ${expected}")
endif()

set(system_dlls kernel32 user32 gdi32 advapi32 ole32 oleaut32 ws2_32 setupapi hid comctl32
    comdlg32 shell32 shlwapi msvcrt)
if(NOT imports)
  message(FATAL_ERROR "no import table found in ${MODULE}")
endif()
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  string(REGEX REPLACE "\\.dll$" "" base "${lower}")
  if(NOT base IN_LIST system_dlls AND NOT base MATCHES "^api-ms-win-crt-")
    message(FATAL_ERROR "${MODULE} imports ${dll}, which is not a system DLL")
  endif()
endforeach()
message(STATUS "${MODULE}: exports OK (${exports}); imports OK (${imports})")
