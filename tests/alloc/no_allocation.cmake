# Fails when an object file refers to a function that allocates memory: the
# C allocators and their relatives, C++ operator new and delete, exception
# objects, and the C++ standard library, which allocates behind its calls.
#
#   cmake -DNM=<nm> -DOBJECTS=<a.o;b.o> [-DEXPECT=<labels>] -P no_allocation.cmake
#
# With EXPECT the run passes only when exactly those labels are found (the
# check of the check). Names are compared after taking off what toolchains
# add: an "__imp_" prefix, leading underscores, a trailing "@<bytes>".

cmake_minimum_required(VERSION 3.16)

set(c_allocators
  malloc calloc realloc reallocarray free cfree aligned_alloc posix_memalign memalign valloc pvalloc
  strdup strndup wcsdup wcsndup asprintf vasprintf asprintf_chk vasprintf_chk getline getdelim
  open_memstream open_wmemstream tempnam get_current_dir_name scandir
  mingw_aligned_malloc mingw_aligned_realloc mingw_asprintf mingw_vasprintf
  aligned_malloc aligned_realloc aligned_free aligned_offset_malloc malloca freea recalloc mbsdup
  HeapAlloc HeapReAlloc HeapFree LocalAlloc LocalReAlloc GlobalAlloc GlobalReAlloc VirtualAlloc
  CoTaskMemAlloc CoTaskMemRealloc SysAllocString)

if(NOT NM OR NOT OBJECTS)
  message(FATAL_ERROR "usage: cmake -DNM=<nm> -DOBJECTS=<objects> [-DEXPECT=<labels>] -P no_allocation.cmake")
endif()

set(found "")
set(report "")
foreach(object IN LISTS OBJECTS)
  if(NOT EXISTS "${object}")
    message(FATAL_ERROR "no such object file: ${object}")
  endif()
  execute_process(COMMAND "${NM}" -u "${object}"
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}: ${errors}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[ \t]*[Uuw][ \t]+([^ \t]+)$")
      continue()
    endif()
    set(symbol "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "^__imp_" "" name "${symbol}")
    string(REGEX REPLACE "^_+" "" name "${name}")
    string(REGEX REPLACE "@[0-9]+$" "" name "${name}")
    set(label "")
    if(name IN_LIST c_allocators)
      set(label "${name}")
    elseif(name MATCHES "^Znw")
      set(label "operator new")
    elseif(name MATCHES "^Zna")
      set(label "operator new array")
    elseif(name MATCHES "^Zdl")
      set(label "operator delete")
    elseif(name MATCHES "^Zda")
      set(label "operator delete array")
    elseif(name MATCHES "^cxa_allocate")
      set(label "exception object")
    elseif(name MATCHES "^Z(N|NK|TV|TI|TS)?S[tsiodab]")
      set(label "C++ library")
    endif()
    if(label)
      list(APPEND found "${label}")
      string(APPEND report "  ${object}: ${symbol} (${label})\n")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES found)

include(${CMAKE_CURRENT_LIST_DIR}/../check_verdict.cmake)
list(LENGTH OBJECTS count)
check_verdict("allocation check" "${found}" "${report}" "the program's own code refers to allocation functions"
              "no allocation function referred to by ${count} object files")
