# The 32-bit Windows console program, the one that ships (mingw-w64.cmake).
set(QB_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
