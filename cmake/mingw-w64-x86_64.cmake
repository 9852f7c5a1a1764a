# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler. The "posix" variant is
# the one with std::thread. Everything is linked statically (libgcc, libstdc++,
# winpthread), so each .exe runs on a bare Windows 10/11 with nothing installed beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZUVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZUVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZUVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZUVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZUVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine. WINEPREFIX and WINEDEBUG come from the environment (the "windows"
# test preset sets both).
find_program(ZUVO_WINE NAMES wine wine64)
if(ZUVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZUVO_WINE})
endif()
