# The layering of the sources under DIR: platform/ includes no header of a
# core folder, the core includes neither a platform implementation's own
# header nor an operating system's, and bench/ (the host of our own and its
# programs) includes nothing of tests/.
set(core plugin settings pendant jog display)
list(JOIN core "|" core_alt)
set(bad "")

# Adds to bad every include in the sources under each folder that matches regex.
function(forbid regex)
  foreach(folder ${ARGN})
    file(GLOB_RECURSE files ${DIR}/${folder}/*.h ${DIR}/${folder}/*.cpp)
    foreach(f ${files})
      file(STRINGS ${f} hits REGEX "${regex}")
      foreach(h ${hits})
        list(APPEND bad "${f}: ${h}")
      endforeach()
    endforeach()
  endforeach()
  set(bad "${bad}" PARENT_SCOPE)
endfunction()

forbid("^#include \"(${core_alt})/" platform)
forbid("^#include (\"platform/[a-z0-9_]+/|<(windows|unistd|dlfcn|fcntl|poll|pthread|libudev)\\.h>|<sys/)"
       ${core})
forbid("^#include \"tests/" bench)
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "includes across the layers:\n  ${text}")
endif()
message(STATUS "layers OK")
