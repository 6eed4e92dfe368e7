# Cross-build for 64-bit Windows with mingw-w64 from a Linux host: a static, self-contained
# demo.exe that needs only the system's own libraries on Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DEMO_MINGW_PREFIX x86_64-w64-mingw32)
# The win32 thread model needs no pthread library at run time; the plain names are the
# system's default model.
find_program(CMAKE_C_COMPILER NAMES ${DEMO_MINGW_PREFIX}-gcc-win32 ${DEMO_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DEMO_MINGW_PREFIX}-g++-win32 ${DEMO_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DEMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DEMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLLs of the compiler's run time beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run on this host under Wine, where it is installed.
find_program(DEMO_WINE_PROGRAM NAMES wine)
if(DEMO_WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DEMO_WINE_PROGRAM})
endif()
