# Tests of the Windows build, run under Wine, and the probe that holds the
# Linux command-line splitter to the Windows C runtime. Included from
# tests/CMakeLists.txt in both builds.

# Prints the argv that command texts give: the C runtime's (Windows build) or
# the launcher's splitter's (Linux build).
add_executable(argv_probe wine/argv_probe.cpp)
if(NOT WIN32)
  target_link_libraries(argv_probe PRIVATE quellatorbin_core)
  return()
endif()

set(QB_WINE_RUN ${CMAKE_CURRENT_SOURCE_DIR}/wine/wine_run.sh)
set(QUELLATORBIN_HOST_PROBE ${PROJECT_SOURCE_DIR}/build/tests/argv_probe
    CACHE FILEPATH "argv_probe of the Linux build, for the command-line splitting comparison")

# A Wine prefix of this build's tests alone, made once before any Windows
# program runs. Its Windows processes (and Wine's taskkill.exe, which sees
# only them) belong to these tests; each test runs in a process table of its
# own, and the tests that start Windows programs never run side by side, as
# they share the prefix's Wine server.
add_isolated_test(wine_prefix ${QB_WINE_RUN} --boot)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
set(wine_tests wine_prefix unit_tests)

# The program and the demo capture program import nothing but KERNEL32 and msvcrt.
add_test(NAME windows_imports
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP}
          "-DFILES=$<TARGET_FILE:quellatorbin>;$<TARGET_FILE:zarnivek_demo>"
          -P ${CMAKE_CURRENT_SOURCE_DIR}/wine/check_imports.cmake)
set_tests_properties(windows_imports PROPERTIES TIMEOUT 60)

# Every single fault of the fault table in whole runs (fault_sweep_test.cpp).
add_isolated_test(fault_sweep_win32 ${QB_RUN_TARGET} $<TARGET_FILE:unit_tests> --gtest_filter=Faults.*)
set_tests_properties(fault_sweep_win32 PROPERTIES TIMEOUT 600)
list(APPEND wine_tests fault_sweep_win32)

add_isolated_test(e2e_wine ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/test_wine_e2e.py
                  ${QB_WINE_RUN} $<TARGET_FILE:quellatorbin> $<TARGET_FILE:standin> $<TARGET_FILE:argv_probe>)
set_tests_properties(e2e_wine PROPERTIES TIMEOUT 900)

add_isolated_test(cmdline_differential ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/test_cmdline_diff.py
                  ${QB_WINE_RUN} $<TARGET_FILE:argv_probe> ${QUELLATORBIN_HOST_PROBE})
set_tests_properties(cmdline_differential PROPERTIES TIMEOUT 600)
list(APPEND wine_tests e2e_wine cmdline_differential)

# The 64-bit build runs under Wine's 64-bit loader in a 64-bit prefix.
math(EXPR wine_bits "${CMAKE_SIZEOF_VOID_P} * 8")
set_tests_properties(${wine_tests} PROPERTIES RESOURCE_LOCK wine LABELS wine
                     ENVIRONMENT "QB_WINEPREFIX=${PROJECT_BINARY_DIR}/wine-prefix;QB_WINE_BITS=${wine_bits}")
set_tests_properties(unit_tests fault_sweep_win32 e2e_wine cmdline_differential PROPERTIES FIXTURES_REQUIRED wine)
