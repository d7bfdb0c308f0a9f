# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model, which C++ threads and mutexes need). Programs the build makes run
# through Wine, so ctest can run the Windows tests on this machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(korvane_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${korvane_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${korvane_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${korvane_mingw}-windres)
set(CMAKE_AR ${korvane_mingw}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${korvane_mingw}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${korvane_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ runtimes (and winpthreads) are linked in, so the DLL and the
# programs need nothing beside the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
