# Fails when a Windows platform file calls the system past the fault table:
# an object file in CHECKED refers to a function that is neither the
# program's own (defined in one of OBJECTS) nor a pure function of the
# short list below. A call that has a row of win32_calls.h goes through
# SYS(f), which refers to no symbol of its own: a row's function named
# directly is a call past the table too.
#
#   cmake -DNM=<nm> -DOBJECTS=<a.obj;b.obj> -DCHECKED=<platform_win32.cpp;...>
#         -DROWS=<platform/win32_calls.h> [-DEXPECT=<names>] -P no_direct_calls_win32.cmake
#
# CHECKED names the sources whose objects (among OBJECTS) are checked. With
# EXPECT the run passes only when exactly those functions are found (the
# check of the check). Names are compared after taking off what toolchains
# add: an "__imp_" prefix, leading underscores, a trailing "@<bytes>".

cmake_minimum_required(VERSION 3.16)

# Functions that read or write nothing but their arguments, the calling
# thread's last error or errno, or the C runtime's own tables: string and
# number functions, formatting into a buffer, and what the compiler calls.
set(pure
  memcpy memmove memset memcmp memchr strlen strnlen strchr strrchr strcmp strncmp strspn strcspn strstr
  wcslen wcscmp atoi strtol strerror
  snprintf vsnprintf snwprintf vsnwprintf mingw_snprintf mingw_vsnprintf mingw_snwprintf mingw_vsnwprintf
  GetLastError SetLastError errno acrt_iob_func iob_func
  chkstk_ms chkstk alloca stack_chk_fail stack_chk_guard)

if(NOT NM OR NOT OBJECTS OR NOT CHECKED OR NOT ROWS)
  message(FATAL_ERROR "usage: cmake -DNM=<nm> -DOBJECTS=<objects> -DCHECKED=<sources> -DROWS=<win32_calls.h> "
                      "[-DEXPECT=<names>] -P no_direct_calls_win32.cmake")
endif()

function(plain_name symbol out)
  string(REGEX REPLACE "^__imp_" "" name "${symbol}")
  string(REGEX REPLACE "^_+" "" name "${name}")
  string(REGEX REPLACE "@[0-9]+$" "" name "${name}")
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# The rows: the "X(name)" of the table (its lines end in a backslash).
file(READ "${ROWS}" table)
string(REGEX MATCHALL "\n[ \t]*X\\([A-Za-z_0-9]+\\)" row_lines "${table}")
set(rows "")
foreach(line IN LISTS row_lines)
  string(REGEX REPLACE "^[ \t\n]*X\\(([A-Za-z_0-9]+)\\)$" "\\1" row "${line}")
  plain_name("${row}" row)
  list(APPEND rows "${row}")
endforeach()
if(NOT rows)
  message(FATAL_ERROR "no rows found in ${ROWS}")
endif()

function(symbols object options out)
  execute_process(COMMAND "${NM}" ${options} "${object}" OUTPUT_VARIABLE listing RESULT_VARIABLE status
                  ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}: ${errors}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]*[ \t]*[A-Za-z][ \t]+([^ \t]+)$")
      plain_name("${CMAKE_MATCH_1}" name)
      list(APPEND names "${name}")
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# The program's own functions and data, and the objects to check.
set(own "")
set(checked_objects "")
foreach(object IN LISTS OBJECTS)
  if(NOT EXISTS "${object}")
    message(FATAL_ERROR "no such object file: ${object}")
  endif()
  symbols("${object}" "--defined-only" defined)
  list(APPEND own ${defined})
  foreach(source IN LISTS CHECKED)
    get_filename_component(source_name "${source}" NAME)
    if(object MATCHES "[/\\\\]${source_name}\\.(o|obj)$")
      list(APPEND checked_objects "${object}")
    endif()
  endforeach()
endforeach()
list(LENGTH CHECKED wanted)
list(LENGTH checked_objects got)
if(NOT got EQUAL wanted)
  message(FATAL_ERROR "objects of ${CHECKED} not all found among ${OBJECTS}")
endif()

set(found "")
set(report "")
foreach(object IN LISTS checked_objects)
  symbols("${object}" "-u" called)
  foreach(name IN LISTS called)
    if(name IN_LIST own OR name IN_LIST pure)
      continue()
    endif()
    list(APPEND found "${name}")
    if(name IN_LIST rows)
      string(APPEND report "  ${object}: ${name} is called directly: call it as SYS(${name})\n")
    else()
      string(APPEND report "  ${object}: ${name} has no row: add X(${name}) to win32_calls.h, call it as "
                           "SYS(${name}) and say in the sweep's table how it fails\n")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES found)

include(${CMAKE_CURRENT_LIST_DIR}/../check_verdict.cmake)
list(LENGTH rows row_count)
check_verdict("direct call check" "${found}" "${report}"
              "the Windows platform files call the system past the fault table"
              "${checked_objects}: every system call goes through one of ${row_count} rows")
