# Cross-build for 64-bit Windows with mingw-w64 from a Linux host: a static, self-contained
# demo.exe that needs only the system's own libraries on Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DEMO_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: the music's output thread is a std::thread, which this compiler
# generation offers only on top of the winpthreads library (linked in statically below, so the
# program still needs no DLL of its own). The plain names are whatever model the host chose.
find_program(CMAKE_C_COMPILER NAMES ${DEMO_MINGW_PREFIX}-gcc-posix ${DEMO_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DEMO_MINGW_PREFIX}-g++-posix ${DEMO_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DEMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DEMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLLs of the compiler's run time beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The programs stay console programs (no -mwindows): the demo's only text output, the music
# start-up's two lines on standard output, then shows in the console it was started from, can be
# redirected, and the console waits for the exit code; double-clicked, it opens a console window
# beside the show. A GUI program would need its console attached by hand and would lose those
# lines when started from Explorer anyway.

# Programs built here run on this host under Wine, where it is installed.
find_program(DEMO_WINE_PROGRAM NAMES wine)
if(DEMO_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DEMO_WINE_PROGRAM})
endif()
