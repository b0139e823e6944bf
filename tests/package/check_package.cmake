cmake_minimum_required(VERSION 3.25)
# Checks the Windows release zip as a user receives it: unpacks it and checks
# its file names, each DLL's machine field, exports, imports and version
# block, that the DLLs carry no debug sections, that each bench needs only
# system DLLs and has its version block, the user guide, and SHA256SUMS.
# cmake -DZIP=dist/KM4R-x.y.z-windows.zip -DVERSION=x.y.z -DWORK=DIR -P check_package.cmake
get_filename_component(WORK ${WORK} ABSOLUTE)
get_filename_component(name ${ZIP} NAME)
if(NOT name STREQUAL "KM4R-${VERSION}-windows.zip")
  message(FATAL_ERROR "package is named ${name}, expected KM4R-${VERSION}-windows.zip")
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${ZIP} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()

file(GLOB_RECURSE files RELATIVE ${WORK} ${WORK}/*)
list(SORT files)
set(want CHANGELOG.md INSTALL.txt LICENSE SHA256SUMS USER_GUIDE.html x64/KM4R.dll
    x64/pendant-bench.exe x86/KM4R.dll x86/pendant-bench.exe)
if(NOT files STREQUAL want)
  message(FATAL_ERROR "package holds\n  ${files}\nexpected\n  ${want}")
endif()

set(machine_x86 i386)
set(machine_x64 x86-64)
set(triple_x86 i686-w64-mingw32)
set(triple_x64 x86_64-w64-mingw32)
foreach(arch x86 x64)
  set(dll ${WORK}/${arch}/KM4R.dll)
  execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${triple_${arch}}-objdump -DMODULE=${dll}
                          -DVERSION=${VERSION} -DMACHINE=${machine_${arch}}
                          -P ${CMAKE_CURRENT_LIST_DIR}/../host_boundary/check_pe.cmake
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${arch}/KM4R.dll failed the PE checks (above)")
  endif()
  execute_process(COMMAND ${triple_${arch}}-objdump -h ${dll} OUTPUT_VARIABLE sections)
  if(sections MATCHES "\\.debug_")
    message(FATAL_ERROR "${arch}/KM4R.dll is not stripped")
  endif()
  # The bench runs from the zip alone: system DLLs only, of the DLL's kind.
  execute_process(COMMAND ${triple_${arch}}-objdump -p ${WORK}/${arch}/pendant-bench.exe
                  OUTPUT_VARIABLE pe)
  if(NOT pe MATCHES "file format pei-${machine_${arch}}")
    message(FATAL_ERROR "${arch}/pendant-bench.exe is not ${machine_${arch}}")
  endif()
  # Its version block, so that a problem report can say which bench ran.
  execute_process(COMMAND ${triple_${arch}}-windres -i ${WORK}/${arch}/pendant-bench.exe -O rc
                  OUTPUT_VARIABLE rc_text)
  set(bits_x86 32)
  set(bits_x64 64)
  foreach(value "FileVersion\", \"${VERSION}\"" "ProductVersion\", \"${VERSION}\""
                "FileDescription\", \"KM4R pendant bench (${bits_${arch}}-bit)\""
                "OriginalFilename\", \"pendant-bench.exe\"")
    string(FIND "${rc_text}" "VALUE \"${value}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${arch}/pendant-bench.exe: no ${value} in its version block:\n${rc_text}")
    endif()
  endforeach()
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${pe}")
  foreach(import IN LISTS imports)
    string(TOLOWER "${import}" import)
    if(NOT import MATCHES "^dll name: (kernel32|user32|ole32|oleaut32|msvcrt|advapi32|gdi32|shell32|hid|setupapi)\\.dll$")
      message(FATAL_ERROR "${arch}/pendant-bench.exe imports a non-system DLL: ${import}")
    endif()
  endforeach()
endforeach()

# The guide, whole: every section the Markdown has, and no Markdown left.
file(READ ${WORK}/USER_GUIDE.html guide)
foreach(want "<h2 id=\"installing-on-windows\">" "<h2 id=\"which-position-each-knob-reports\">"
             "<h2 id=\"the-settings\">" "<h2 id=\"troubleshooting\">" "VID_04D8&amp;PID_FCE7"
             "Esc closes without changes")
  string(FIND "${guide}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "USER_GUIDE.html lacks ${want}")
  endif()
endforeach()
if(guide MATCHES "\\|---|```|\\*\\*")
  message(FATAL_ERROR "USER_GUIDE.html holds Markdown that was not converted")
endif()

file(READ ${WORK}/LICENSE license)
if(NOT license MATCHES "^MIT License")
  message(FATAL_ERROR "LICENSE is not the MIT licence")
endif()
file(READ ${WORK}/INSTALL.txt install)
foreach(want "x86\\KM4R.dll" "x64\\KM4R.dll" "${VERSION}" "USER_GUIDE.html" "pendant-bench.exe")
  string(FIND "${install}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "INSTALL.txt does not mention ${want}")
  endif()
endforeach()

file(STRINGS ${WORK}/SHA256SUMS sums)
list(LENGTH sums count)
if(NOT count EQUAL 8)
  message(FATAL_ERROR "SHA256SUMS has ${count} lines, expected 8")
endif()
foreach(line IN LISTS sums)
  if(NOT line MATCHES "^([0-9a-f]+)  (.+)$")
    message(FATAL_ERROR "bad SHA256SUMS line: ${line}")
  endif()
  file(SHA256 ${WORK}/${CMAKE_MATCH_2} actual)
  if(NOT actual STREQUAL CMAKE_MATCH_1)
    message(FATAL_ERROR "SHA256SUMS: ${CMAKE_MATCH_2} does not match")
  endif()
endforeach()
message(STATUS "${ZIP}: contents, architectures, exports, version ${VERSION} and checksums OK")
