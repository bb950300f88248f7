# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# package g++-mingw-w64-x86-64-posix). Programs run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OSTRAND_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OSTRAND_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRAND_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRAND_MINGW_TRIPLE}-windres)

# Look for libraries and packages of the target only; programs of the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${OSTRAND_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs are linked statically, so that they run without MinGW runtime DLLs
# (libstdc++, libgcc, libwinpthread) beside them. The module's own link
# options make it static too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine64, without a display.
find_program(OSTRAND_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT OSTRAND_WINE64)
  find_program(OSTRAND_WINE64 NAMES wine64 wine)
endif()
if(OSTRAND_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRAND_WINE64})
endif()
