cmake_minimum_required(VERSION 3.25)
# Checks a Windows module's PE tables with objdump -p:
#   exports: exactly the host's entry points (plus EXTRA), by undecorated name;
#   imports: system DLLs only, so the module loads on a bare system;
#   version block: FileVersion and ProductVersion (VERSION when given),
#   FileDescription and ProductName;
#   machine field: MACHINE (i386 or x86-64) when given.
# cmake -DOBJDUMP=... -DMODULE=KM4R.dll [-DEXTRA=name,...] [-DVERSION=x.y.z]
#       [-DMACHINE=i386|x86-64] -P check_pe.cmake
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

# EXTRA may list several names separated by commas (a list would not survive
# the test's command line).
string(REPLACE "," ";" EXTRA "${EXTRA}")
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
# The machine field of the PE header, at the offset the DOS header names.
if(MACHINE)
  file(READ ${MODULE} lfanew OFFSET 60 LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" lfanew "${lfanew}")
  math(EXPR at "0x${lfanew} + 4")
  file(READ ${MODULE} machine OFFSET ${at} LIMIT 2 HEX)
  set(want_i386 4c01)
  set(want_x86-64 6486)
  if(NOT DEFINED want_${MACHINE})
    message(FATAL_ERROR "unknown MACHINE ${MACHINE}")
  endif()
  if(NOT machine STREQUAL want_${MACHINE})
    message(FATAL_ERROR "${MODULE}: machine field ${machine}, expected ${MACHINE} (${want_${MACHINE}})")
  endif()
endif()

# The version block, as windres reads it back from the module.
string(REGEX REPLACE "objdump$" "windres" windres "${OBJDUMP}")
execute_process(COMMAND ${windres} -i ${MODULE} -O rc OUTPUT_VARIABLE rc_text RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT rc_text MATCHES "VERSIONINFO")
  message(FATAL_ERROR "${MODULE} has no version resource")
endif()
foreach(key FileVersion ProductVersion FileDescription ProductName)
  if(NOT rc_text MATCHES "VALUE \"${key}\", \"([^\"]+)\"")
    message(FATAL_ERROR "${MODULE}: version resource lacks ${key}")
  endif()
  set(value_${key} "${CMAKE_MATCH_1}")
endforeach()
if(VERSION)
  foreach(key FileVersion ProductVersion)
    if(NOT value_${key} STREQUAL VERSION)
      message(FATAL_ERROR "${MODULE}: ${key} is ${value_${key}}, expected ${VERSION}")
    endif()
  endforeach()
endif()

# The description names the kind, so that the two DLLs can be told apart.
if(MACHINE STREQUAL "i386" AND NOT value_FileDescription MATCHES "\\(32-bit\\)$")
  message(FATAL_ERROR "${MODULE}: FileDescription '${value_FileDescription}' lacks (32-bit)")
elseif(MACHINE STREQUAL "x86-64" AND NOT value_FileDescription MATCHES "\\(64-bit\\)$")
  message(FATAL_ERROR "${MODULE}: FileDescription '${value_FileDescription}' lacks (64-bit)")
endif()
message(STATUS "${MODULE}: version ${value_FileVersion} (${value_FileDescription}); machine ${MACHINE}")
message(STATUS "${MODULE}: exports OK (${exports}); imports OK (${imports})")
