# Cross-compiles the Windows build with Debian's MinGW-w64, for the processor that the including
# toolchain file names in LARKMOOR_MINGW.
# The win32 thread model: the posix one pulls in winpthreads, which imports functions that Windows XP
# lacks (GetTickCount64). Its standard library has no std::thread or std::mutex; code that needs a
# thread uses Win32's own.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${LARKMOOR_MINGW})
set(CMAKE_C_COMPILER ${LARKMOOR_MINGW}-gcc-win32)
set(CMAKE_CXX_COMPILER ${LARKMOOR_MINGW}-g++-win32)
set(CMAKE_RC_COMPILER ${LARKMOOR_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LARKMOOR_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
