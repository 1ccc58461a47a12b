# Builds GoogleTest with the cross compiler from Debian's sources and gives it
# the names that find_package(GTest) gives; GTest_FOUND tells whether it could.
set(QUELLATORBIN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
if(EXISTS ${QUELLATORBIN_GTEST_SOURCE}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${QUELLATORBIN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest 1.11 and later make these names themselves.
  foreach(name gtest gtest_main)
    if(NOT TARGET GTest::${name})
      add_library(GTest::${name} ALIAS ${name})
    endif()
  endforeach()
  set(GTest_FOUND TRUE)
else()
  set(GTest_FOUND FALSE)
endif()
