# The same sources as a 64-bit Windows console program (mingw-w64.cmake): the
# Windows tests run it where the machine runs no 32-bit programs, and every
# run of the test command compiles it, so that a fault only a 64-bit build
# shows (a pointer kept in a DWORD, a handle in an int) shows at once.
set(QB_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
