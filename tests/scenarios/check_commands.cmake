# Checks of the bench commands that do not produce a golden trace. EMULATOR,
# when set, runs BENCH (a cross-built program).
# A program under CPU emulation is slow to start, more so on a busy machine.
set(timeout 60)
if(EMULATOR)
  set(timeout 600)
endif()

# One row of the bad-input table: runs the bench (BENCH, when given, instead
# of the build's) with ARGS (a list; INPUT feeds standard input, ENV sets
# VAR=VALUE) and wants exit status RC and PATTERN in standard error, or in
# standard output for a zero RC.
function(expect rc pattern)
  cmake_parse_arguments(PARSE_ARGV 2 row "" "INPUT;BENCH" "ARGS;ENV")
  set(input)
  if(row_INPUT)
    file(WRITE ${OUT}/input.txt "${row_INPUT}")
    set(input INPUT_FILE ${OUT}/input.txt)
  endif()
  if(NOT row_BENCH)
    set(row_BENCH ${BENCH})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${row_ENV} ${EMULATOR} ${row_BENCH} ${row_ARGS}
                          ${input} TIMEOUT ${timeout} OUTPUT_VARIABLE out
                  ERROR_VARIABLE err RESULT_VARIABLE got)
  if(rc EQUAL 0)
    set(text "${out}")
  else()
    set(text "${err}")
  endif()
  if(NOT got EQUAL rc OR NOT text MATCHES "${pattern}")
    message(SEND_ERROR "${row_ARGS}: exit ${got}, wanted ${rc} and '${pattern}'\n"
                       "stdout:\n${out}\nstderr:\n${err}")
  endif()
endfunction()

if(MODE STREQUAL "errors")
  # Files `run` must refuse, with the system's reason.
  set(dir ${OUT}/bad-input)
  file(REMOVE_RECURSE ${dir})
  file(MAKE_DIRECTORY ${dir}/a-directory.scn)
  string(REPEAT "# padding padding padding padding padding padding padding padding\n" 17000 big)
  file(WRITE ${dir}/big.scn "${big}")
  expect(1 "^${dir}/nosuch.scn: cannot read the file: [A-Za-z]"
         ARGS run --plugin ${MODULE} ${dir}/nosuch.scn)
  expect(1 "a-directory.scn: cannot read the file: it is a directory"
         ARGS run --plugin ${MODULE} ${dir}/a-directory.scn)
  expect(1 "big.scn: cannot read the file: larger than 1048576 bytes"
         ARGS run --plugin ${MODULE} ${dir}/big.scn)
  # A byte-order mark, as Windows editors write it, is no command.
  string(ASCII 239 187 191 bom)
  file(WRITE ${dir}/bom.scn "${bom}start\nstop\n")
  expect(0 "^name \"KM4R Pendant" ARGS run --plugin ${MODULE} ${dir}/bom.scn)
  # Without start the plug-in never runs: no empty trace passes for a run.
  file(WRITE ${dir}/no-start.scn "profile StepSize1 3\ncycle 40\nshow display\n")
  expect(2 "no-start.scn: no 'start' \\(or 'config'\\): the plug-in would never run"
         ARGS run --plugin ${MODULE} ${dir}/no-start.scn)
  # A file that is no plug-in: named as the user gave it, not by the bench's
  # private copy, and once.
  file(WRITE ${dir}/not-a-module "text")
  expect(1 "^${dir}/bom.scn: cannot load plug-in module ${dir}/not-a-module: [^/\\]*\n$"
         ARGS run --plugin ${dir}/not-a-module ${dir}/bom.scn)
  # A bench copied without its virtual/ folder (as from the release zip)
  # says what run and demo need, and how to give it.
  get_filename_component(bench_name ${BENCH} NAME)
  file(MAKE_DIRECTORY ${dir}/copied)
  file(COPY ${BENCH} DESTINATION ${dir}/copied)
  foreach(command "run;${dir}/bom.scn" demo)
    expect(1 "no virtual-pendant module at [^\n]*virtual.KM4R[^\n]*\n[^\n]*need this bench build[^$]*Give --plugin PATH"
           BENCH ${dir}/copied/${bench_name} ARGS ${command})
  endforeach()
  # The host's profile is the XML file holding the pendant's section.
  file(WRITE ${dir}/host/a/B/P.XML "<profile><Quorvix_KM4R_Pendant/></profile>")
  file(WRITE ${dir}/host/other.xml "<profile/>")
  expect(0 "^[^\n]*host.a.B.P.XML\r?\n$" ARGS find-profile ${dir}/host)
  expect(1 "no XML file under [^\n]*a-directory.scn holds Quorvix_KM4R_Pendant"
         ARGS find-profile ${dir}/a-directory.scn)
  expect(0 "^pendant-bench ${VERSION} \\((Linux|Windows), (32|64)-bit\\)\n$" ARGS --version)
  expect(2 "--force goes with --record FILE" ARGS live --plugin ${MODULE} --force)
  # DEVICES: the option that points live at stand-in devices on this platform.
  expect(2 "${DEVICES} needs a value" ARGS live --plugin ${MODULE} ${DEVICES})
  # A recording never replaces a file, unless told to.
  file(WRITE ${dir}/kept.scn "start\n")
  expect(1 "kept.scn exists; choose another file, or give --force to replace it"
         ARGS live --plugin ${MODULE} ${DEVICES} ${dir} --record ${dir}/kept.scn)
  # Nor is it made before the plug-in loads.
  expect(1 "^pendant-bench: [A-Za-z]"
         ARGS live --plugin ${dir}/nosuch.mod ${DEVICES} ${dir} --record ${dir}/fresh.scn)
  file(READ ${dir}/kept.scn kept)
  if(NOT kept STREQUAL "start\n" OR EXISTS ${dir}/fresh.scn)
    message(SEND_ERROR "a refused recording touched a file: kept.scn holds '${kept}'")
  endif()
  file(WRITE ${dir}/a-file "")
  expect(1 "cannot write .*a-file/x.scn: " ARGS live --plugin ${MODULE} ${DEVICES} ${dir}
                                                --record ${dir}/a-file/x.scn)
  # The test-only option is not offered to users; the host's profile is.
  execute_process(COMMAND ${EMULATOR} ${BENCH} live --help OUTPUT_VARIABLE help)
  if(help MATCHES "test-devices" OR NOT help MATCHES "--profile FILE")
    message(SEND_ERROR "live --help:\n${help}")
  endif()
  execute_process(COMMAND ${EMULATOR} ${BENCH} config --help OUTPUT_VARIABLE help)
  if(NOT help MATCHES "find the host's\n?.profile" OR NOT help MATCHES "find-profile FOLDER")
    message(SEND_ERROR "config --help does not tell how to find the host's profile:\n${help}")
  endif()
  # Every scenario command is listed once.
  execute_process(COMMAND ${EMULATOR} ${BENCH} run --help OUTPUT_VARIABLE help)
  foreach(command "tick \\[N\\]" "machine follow-step-size" "profile KEY")
    string(REGEX MATCHALL "\n  ${command}" seen "${help}")
    list(LENGTH seen n)
    if(NOT n EQUAL 1)
      message(SEND_ERROR "run --help lists '${command}' ${n} times:\n${help}")
    endif()
  endforeach()
  # `config` says what became of the edits, in the plug-in's own words.
  file(WRITE ${dir}/garbage.xml "<profile><unclosed>")
  set(config config --plugin ${REAL_MODULE} --profile)
  expect(1 "not saved: The profile .*garbage.xml is not well-formed XML\n$"
         ARGS ${config} ${dir}/garbage.xml)
  file(READ ${dir}/garbage.xml kept)
  if(NOT kept STREQUAL "<profile><unclosed>")
    message(SEND_ERROR "config changed a damaged profile: ${kept}")
  endif()
  expect(2 "a-directory.scn is a directory; --profile takes the profile file"
         ARGS ${config} ${dir}/a-directory.scn)
  if(NOT EMULATOR)
    expect(1 "/dev/zero: cannot read the file: not a regular file" ARGS run --plugin ${MODULE} /dev/zero)
    # An empty argument would not survive a list: this row runs on its own.
    execute_process(COMMAND ${BENCH} config --plugin ${REAL_MODULE} --profile ""
                    ERROR_VARIABLE err RESULT_VARIABLE got)
    if(NOT got EQUAL 2 OR NOT err MATCHES "--profile needs a value, got an empty one")
      message(SEND_ERROR "config --profile \"\": exit ${got}\n${err}")
    endif()
    expect(1 "not saved: cannot create the directory .*a-file" ARGS ${config} ${dir}/a-file/p.xml)
    expect(0 "cancelled: no setting changed in .*new.xml; the pendant keys the profile lacked or held out of range were written" ARGS ${config} ${dir}/new.xml INPUT "c\n")
    # Without --profile: whose profile it is, before the dialog.
    expect(0 "^no --profile given: this edits the bench's own profile\n  ${dir}/cfg/km4r-pendant/profile.xml\nwhich the host does not read.*Pendant Configuration.*cancelled: no setting changed in ${dir}/cfg/"
           ENV XDG_CONFIG_HOME=${dir}/cfg ARGS config --plugin ${REAL_MODULE} INPUT "c\n")
    expect(0 "\nsaved .*new.xml\n" ARGS ${config} ${dir}/new.xml INPUT "4 250\no\n")
    # Cancel on a value the plug-in corrects on load is still a cancel.
    file(WRITE ${dir}/odd.xml "<profile><Quorvix_KM4R_Pendant><AutoChangeSens>42</AutoChangeSens></Quorvix_KM4R_Pendant></profile>")
    expect(0 "cancelled: no setting changed in .*odd.xml; the pendant keys the profile lacked or held out of range were written" ARGS ${config} ${dir}/odd.xml INPUT "c\n")
    # An edit the plug-in cannot write: its message, then the bench's.
    expect(1 "not saved: Cannot create the profile in /proc/self: "
           ARGS ${config} /proc/self/km4r-profile.xml INPUT "4 250\no\n")
    file(READ ${dir}/new.xml saved)
    if(NOT saved MATCHES "<StepJogRate>250</StepJogRate>")
      message(SEND_ERROR "config said saved, but the profile holds:\n${saved}")
    endif()
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
  if(NOT rc EQUAL 2 OR NOT out STREQUAL want OR NOT err STREQUAL "${OUT}/bad.scn:2: bad axis '9' (X, Y, Z, A, B, C or 0 to 5)\n")
    message(FATAL_ERROR "exit ${rc}\nstdout:\n${out}\nwanted:\n${want}\nstderr:\n${err}")
  endif()
elseif(MODE STREQUAL "no-display")
  # Without a display the host window cannot be created: the bench must say
  # so and fail, never print a trace of cycles that did not run.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                          ${EMULATOR} ${BENCH} run --plugin ${MODULE} ${DIR}/startup_shutdown.scn
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  if(NOT rc EQUAL 1 OR NOT err MATCHES "host window|no window" OR out MATCHES "DoButton")
    message(FATAL_ERROR "exit ${rc}\nstdout:\n${out}\nstderr:\n${err}")
  endif()
else()
  message(FATAL_ERROR "unknown MODE ${MODE}")
endif()
