# The Windows tests on a machine whose kernel runs no 32-bit programs, under 64-bit Wine.
set(LARKMOOR_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
