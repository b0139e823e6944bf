# Checks of the bench commands that do not produce a golden trace. EMULATOR,
# when set, runs BENCH (a cross-built program).
if(MODE STREQUAL "live")
  # An empty device directory: no pendant anywhere.
  set(sysfs ${OUT}/no-hidraw)
  file(REMOVE_RECURSE ${sysfs})
  file(MAKE_DIRECTORY ${sysfs})
  execute_process(COMMAND ${EMULATOR} ${BENCH} live --sysfs ${sysfs}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    message(FATAL_ERROR "live without a pendant exited 0\n${out}${err}")
  endif()
  if(NOT err MATCHES "no pendant found" OR NOT err MATCHES "04d8" OR NOT err MATCHES "fce7")
    message(FATAL_ERROR "live without a pendant did not name vendor 04d8 and product fce7:\n${err}")
  endif()
elseif(MODE STREQUAL "demo")
  execute_process(COMMAND ${EMULATOR} ${BENCH} demo OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "demo exited ${rc}\n${err}")
  endif()
  # The session reaches its end, moves the machine and draws the display.
  foreach(want "G91G1 F100 X 0.0030" "DOJOG" "DoButton 1008" "DoButton 1021" "|Stepsize|"
               "|FRO 105%|" "plug-in stopped")
    string(FIND "${out}" "${want}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "demo output lacks '${want}':\n${out}")
    endif()
  endforeach()
elseif(MODE STREQUAL "several")
  # Each file runs in a fresh host; a file that does not parse stops only
  # itself, and the exit status says so.
  file(WRITE ${OUT}/bad.scn "start\nshow jog 9\n")
  execute_process(COMMAND ${EMULATOR} ${BENCH} run --plugin ${MODULE} ${DIR}/startup_shutdown.scn
                          ${OUT}/bad.scn ${DIR}/startup_shutdown.scn
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  file(READ ${DIR}/startup_shutdown.expected one)
  set(want "# ${DIR}/startup_shutdown.scn\n${one}# ${OUT}/bad.scn\n# ${DIR}/startup_shutdown.scn\n${one}")
  if(NOT rc EQUAL 2 OR NOT out STREQUAL want OR NOT err STREQUAL "${OUT}/bad.scn:2: bad axis '9' (0 to 5)\n")
    message(FATAL_ERROR "exit ${rc}\nstdout:\n${out}\nwanted:\n${want}\nstderr:\n${err}")
  endif()
elseif(MODE STREQUAL "linux-only")
  # The Windows build says so instead of half-running these commands.
  foreach(command live config)
    execute_process(COMMAND ${EMULATOR} ${BENCH} ${command} OUTPUT_VARIABLE out ERROR_VARIABLE err
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 1 OR NOT out STREQUAL "" OR NOT err MATCHES "'${command}' is available in the Linux build only")
      message(FATAL_ERROR "${command}: exit ${rc}\nstdout:\n${out}\nstderr:\n${err}")
    endif()
  endforeach()
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()
