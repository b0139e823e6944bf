# Settings both mingw-w64 toolchains share; the including file sets
# CMAKE_SYSTEM_PROCESSOR and KM4R_MINGW_TRIPLE first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest needs std::mutex, which g++ 12 has only
# there. -static below links libwinpthread in, so no DLL of it is imported.
set(CMAKE_C_COMPILER ${KM4R_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KM4R_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KM4R_MINGW_TRIPLE}-windres)
set(KM4R_WIDL ${KM4R_MINGW_TRIPLE}-widl)
set(KM4R_OBJDUMP ${KM4R_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KM4R_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything but system DLLs is linked in.
set(KM4R_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${KM4R_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${KM4R_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${KM4R_STATIC_RUNTIME}")
