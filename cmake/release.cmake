# The release: the program stripped and built reproducibly, and beside it the
# sample settings file, the licence and a README for users (the user's
# sections of README.md). `cmake --install <build> --prefix DIR` lays them out
# as the program's own directory; `cpack` in the build directory packs it:
#   mingw-w64 build: quellatorbin-0.05-win32.zip (text files with CR LF, README.txt)
#   Linux build:     quellatorbin-0.05-linux-x86_64.tar.gz
set(QB_VERSION 0.05)
set(QB_VERSION_NUMBERS 0,0,5,0)
set(QB_VERSION_DOTTED 0.0.5.0)
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

# The users' README: README.md without the developers' sections, and without
# the links into docs/, which the package does not hold. Text files for
# Windows get CR LF line ends.
set(QB_RELEASE_DIR ${PROJECT_BINARY_DIR}/release)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS README.md LICENSE quellatorbin.ini)
file(READ README.md readme)
string(REGEX REPLACE " ?\\(\\[docs/[^]]*\\]\\([^)]*\\)\\)" "" readme "${readme}")
string(REGEX REPLACE "\\[([^]]*)\\]\\(docs/[^)]*\\)" "\\1" readme "${readme}")
if(WIN32)
  set(other_platform "For Linux users")
else()
  set(other_platform "For Windows users")
endif()
string(FIND "${readme}" "\n## " at)
math(EXPR at "${at} + 1")
string(SUBSTRING "${readme}" 0 ${at} user_readme)
string(SUBSTRING "${readme}" ${at} -1 rest)
while(NOT rest STREQUAL "")
  string(FIND "${rest}" "\n## " next)
  if(next EQUAL -1)
    set(section "${rest}")
    set(rest "")
  else()
    math(EXPR next "${next} + 1")
    string(SUBSTRING "${rest}" 0 ${next} section)
    string(SUBSTRING "${rest}" ${next} -1 rest)
  endif()
  string(REGEX MATCH "^## ([^\n]*)" heading "${section}")
  if(NOT CMAKE_MATCH_1 MATCHES "^(The two commands|Layout|More|${other_platform})$")
    string(APPEND user_readme "${section}")
  endif()
endwhile()
function(qb_release_text name content)
  if(WIN32)
    string(REPLACE "\r\n" "\n" content "${content}")
    string(REPLACE "\n" "\r\n" content "${content}")
  endif()
  file(WRITE ${QB_RELEASE_DIR}/${name} "${content}")
endfunction()
if(WIN32)
  qb_release_text(README.txt "${user_readme}")
else()
  qb_release_text(README.md "${user_readme}")
endif()
file(READ LICENSE text)
qb_release_text(LICENSE "${text}")
file(READ quellatorbin.ini text)
qb_release_text(quellatorbin.ini "${text}")

# Each file is a component of its own, named after it: cpack packs the
# components in name order (it would take the files of one in the file
# system's order), so the archive's members stand in a fixed order.
install(TARGETS quellatorbin RUNTIME DESTINATION . COMPONENT quellatorbin${CMAKE_EXECUTABLE_SUFFIX})
file(GLOB release_files RELATIVE ${QB_RELEASE_DIR} ${QB_RELEASE_DIR}/*)
foreach(name IN LISTS release_files)
  install(FILES ${QB_RELEASE_DIR}/${name} DESTINATION . COMPONENT ${name})
endforeach()
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
