# The shipped program: 32-bit Windows.
set(LARKMOOR_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
