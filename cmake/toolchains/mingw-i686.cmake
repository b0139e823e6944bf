# Cross build of the Windows module with mingw-w64 (i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KM4R_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 maths: results must not depend on the x87 precision the host process
# has set. (mingw realigns the stack for SSE on entry, since 32-bit Windows
# callers guarantee only 4 bytes.)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
