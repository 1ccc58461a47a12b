# Cross build of the Windows console program with Debian's mingw-w64, for the
# processor that the including toolchain file names in QB_MINGW_ARCH: i686
# (the program that ships, package g++-mingw-w64-i686) or x86_64 (package
# g++-mingw-w64-x86-64: the same sources as a 64-bit program, which the tests
# run under Wine where the machine runs no 32-bit programs). Test programs
# run under Wine through tests/wine/wine_run.sh, which gives them a Wine
# prefix of their own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QB_MINGW_ARCH})
set(triplet ${QB_MINGW_ARCH}-w64-mingw32)

# The posix thread model (GoogleTest needs std::mutex); the build links
# statically, so no winpthread DLL is needed at run time.
set(CMAKE_C_COMPILER ${triplet}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triplet}-g++-posix)
set(CMAKE_RC_COMPILER ${triplet}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine_run.sh)
