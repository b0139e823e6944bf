cmake_minimum_required(VERSION 3.25)
# Self-registration through the system's regsvr32 in the Wine prefix: the type
# library's registry key appears on registration and is gone after
# unregistration.
# cmake -DWINE=wine -DMODULE=KM4R.dll -P check_regsvr32.cmake
set(key "HKCR\\TypeLib\\{0C9FB259-B864-40A5-B59F-65E11E209FC4}")

function(run expect_rc what)
  execute_process(COMMAND ${WINE} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(expect_rc STREQUAL "0" AND NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}): ${out} ${err}")
  elseif(expect_rc STREQUAL "nonzero" AND rc EQUAL 0)
    message(FATAL_ERROR "${what} unexpectedly succeeded: ${out}")
  endif()
  set(last_out "${out}" PARENT_SCOPE)
endfunction()

run(0 "regsvr32" regsvr32 /s ${MODULE})
run(0 "registry query after registration" reg query ${key} /s)
if(NOT last_out MATCHES "1\\.0")
  message(FATAL_ERROR "type library registered without version 1.0:\n${last_out}")
endif()
run(0 "regsvr32 /u" regsvr32 /u /s ${MODULE})
run(nonzero "registry query after unregistration" reg query ${key})
message(STATUS "registered and unregistered ${MODULE}")
