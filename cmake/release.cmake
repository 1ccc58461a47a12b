# The release: the program stripped and built reproducibly, and beside it the
# sample settings file, the licence and the users' README (README.txt, from
# docs/users-readme.txt). `cpack` in the build directory packs them:
#   mingw-w64 build: quellatorbin-0.05-win32.zip (text files with CR LF)
#   Linux build:     quellatorbin-0.05-linux-x86_64.tar.gz
# `cmake --install <build> [--prefix DIR]` installs them (see below).
# The version is the program's own (launcher/version.h): the banner, the
# help and --version give it, and the archives and the resource carry it.
file(STRINGS ${PROJECT_SOURCE_DIR}/launcher/version.h QB_VERSION REGEX "^#define QUELLATORBIN_VERSION \"")
string(REGEX REPLACE ".*\"([0-9]+)\\.([0-9]+)\".*" "\\1.\\2" QB_VERSION "${QB_VERSION}")
string(REGEX REPLACE "^([0-9]+)\\.0*([0-9]+)$" "0,\\1,\\2,0" QB_VERSION_NUMBERS "${QB_VERSION}")
string(REGEX REPLACE "^([0-9]+)\\.0*([0-9]+)$" "0.\\1.\\2.0" QB_VERSION_DOTTED "${QB_VERSION}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS launcher/version.h)
# The newest C library symbol version the Linux program needs: the users'
# README names it, and the test release_files holds the program to it.
set(QB_GLIBC_MINIMUM 2.34)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE QB_COPYRIGHT REGEX "^Copyright" LIMIT_COUNT 1)

# Reproducible: the same commit gives the same bytes in any directory (the
# compile and link options for that stand in CMakeLists.txt, before the
# targets), and the archives take their times from the commit.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QB_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE QB_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status ERROR_QUIET)
  if(NOT status EQUAL 0 OR NOT QB_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(QB_SOURCE_DATE_EPOCH 315532800) # 1980-01-01, the first time a ZIP entry can hold
  endif()
endif()

# Stripped: a release build carries no symbols and no debug sections.
foreach(target quellatorbin zarnivek_demo)
  target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endforeach()

# Windows: the version resource and the application manifest.
if(WIN32)
  enable_language(RC)
  set(QB_MANIFEST ${PROJECT_BINARY_DIR}/quellatorbin.manifest)
  configure_file(platform/windows/quellatorbin.manifest.in ${QB_MANIFEST} @ONLY)
  configure_file(platform/windows/quellatorbin.rc.in ${PROJECT_BINARY_DIR}/quellatorbin.rc @ONLY)
  target_sources(quellatorbin PRIVATE ${PROJECT_BINARY_DIR}/quellatorbin.rc)
endif()

# The files beside the program, in build/release/: the users' README, kept by
# hand in docs/users-readme.txt (ASCII, lines under 100 characters) and
# shipped as README.txt, the licence and the sample settings file. Text files
# for Windows get CR LF line ends, as Notepad before Windows 10 wants them.
set(QB_RELEASE_DIR ${PROJECT_BINARY_DIR}/release)
set(QB_USERS_README docs/users-readme.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QB_USERS_README} LICENSE quellatorbin.ini)
function(qb_release_text name source)
  file(READ ${PROJECT_SOURCE_DIR}/${source} content)
  if(WIN32)
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
  endif()
  file(WRITE ${QB_RELEASE_DIR}/${name} "${content}")
endfunction()
qb_release_text(README.txt ${QB_USERS_README})
qb_release_text(LICENSE LICENSE)
qb_release_text(quellatorbin.ini quellatorbin.ini)

# The archives hold one directory with the program and those files side by
# side, as the program reads its settings file from its own directory and
# starts the capture program from there. Each file is a component of its
# own, named after it: cpack packs the components in name order (it would
# take the files of one in the file system's order), so the archive's
# members stand in a fixed order.
#
# `cmake --install` lays out the same directory on Windows. On Linux it
# installs as Linux users expect: the program and its settings file into
# bin/, the README, the licence and the sample settings file into
# share/doc/quellatorbin/. The components of the archive are then installed
# only when named (cpack names them), and a settings file already in bin/
# is kept: it may hold a user's settings.
set(QB_RELEASE_COMPONENTS quellatorbin${CMAKE_EXECUTABLE_SUFFIX} LICENSE README.txt quellatorbin.ini)
if(WIN32)
  set(only_when_named)
else()
  set(only_when_named EXCLUDE_FROM_ALL)
  include(GNUInstallDirs)
  install(TARGETS quellatorbin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QB_RELEASE_DIR}/README.txt ${QB_RELEASE_DIR}/LICENSE ${QB_RELEASE_DIR}/quellatorbin.ini
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(CODE "set(qb_sample \"${QB_RELEASE_DIR}/quellatorbin.ini\")
                set(qb_bin \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")")
  install(CODE [[
    if(EXISTS "$ENV{DESTDIR}${qb_bin}/quellatorbin.ini")
      message(STATUS "Kept: $ENV{DESTDIR}${qb_bin}/quellatorbin.ini")
    else()
      file(INSTALL "${qb_sample}" DESTINATION "${qb_bin}")
    endif()
  ]])
endif()
install(TARGETS quellatorbin RUNTIME DESTINATION . COMPONENT quellatorbin${CMAKE_EXECUTABLE_SUFFIX}
        ${only_when_named})
foreach(name LICENSE README.txt quellatorbin.ini)
  install(FILES ${QB_RELEASE_DIR}/${name} DESTINATION . COMPONENT ${name} ${only_when_named})
endforeach()
set(CPACK_COMPONENTS_ALL ${QB_RELEASE_COMPONENTS})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)

set(CPACK_PACKAGE_NAME quellatorbin)
set(CPACK_PACKAGE_VERSION ${QB_VERSION})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # The 64-bit build is for the tests; its archive, if packed, says so.
  math(EXPR bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_SYSTEM_NAME win${bits})
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  # Members owned by root whoever packs, so that root unpacks root's files
  # (CMake 4.3 and later; before, they carry the packing user's ids).
  set(CPACK_ARCHIVE_UID 0)
  set(CPACK_ARCHIVE_GID 0)
endif()
# The archives' times come from the commit, whoever runs cpack.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackTimes.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "set(ENV{SOURCE_DATE_EPOCH} ${QB_SOURCE_DATE_EPOCH})\n")
include(CPack)
