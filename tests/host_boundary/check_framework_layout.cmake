# Compiles framework_layout.cpp with clang for both Microsoft targets and
# checks the string manager's virtual-table slots in clang's dump.
#   cmake -DCLANG=... -DSOURCE=.../framework_layout.cpp -P check_framework_layout.cmake
foreach(target i686-pc-windows-msvc x86_64-pc-windows-msvc)
  execute_process(COMMAND ${CLANG} --target=${target} -fms-extensions -S -o - -Xclang
                          -fdump-vtable-layouts ${SOURCE}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${target}: ${err}")
  endif()
  string(FIND "${out}" "VFTable indices for 'IAtlStringMgr' (5 entries)." at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${target}: no table dump")
  endif()
  string(SUBSTRING "${out}" ${at} 400 table)
  foreach(slot "0 | CStringData *IAtlStringMgr::Allocate(int, int)"
               "1 | void IAtlStringMgr::Free(CStringData *)"
               "2 | CStringData *IAtlStringMgr::Reallocate(CStringData *, int, int)"
               "3 | CStringData *IAtlStringMgr::GetNilString()"
               "4 | IAtlStringMgr *IAtlStringMgr::Clone()")
    string(FIND "${table}" "${slot}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "${target}: no slot '${slot}' in\n${table}")
    endif()
  endforeach()
  message(STATUS "${target}: header sizes hold, five slots in declaration order")
endforeach()
