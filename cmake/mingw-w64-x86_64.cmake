# Cross-building for 64-bit Windows with MinGW-w64 from Linux (Debian:
# g++-mingw-w64-x86-64-posix). The posix thread-model compilers are the ones
# whose libstdc++ has std::thread. Test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(REKMO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${REKMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${REKMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${REKMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${REKMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(REKMO_WINE wine)
if(REKMO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${REKMO_WINE})
endif()
