#!/bin/sh
# Runs a Windows program under Wine in the tests' own Wine prefix, with no
# display, no debug output and no Mono/Gecko install prompts. CMake uses it as
# the emulator of the cross builds; the Wine tests use it for every start.
# QB_WINEPREFIX overrides the prefix (default /tmp/quellatorbin-wine-<uid>;
# CTest gives each build directory one of its own). QB_WINE_BITS=64 runs the
# 64-bit build: a 64-bit prefix and Wine's 64-bit loader, which works whether
# or not the 32-bit one is installed or can run here (CTest sets it for the
# tests of a 64-bit build).
#   wine_run.sh PROGRAM ARGS...   runs a program
#   wine_run.sh --boot            makes the prefix, before the first test
WINEPREFIX=${QB_WINEPREFIX:-/tmp/quellatorbin-wine-$(id -u)}
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=
if [ "${QB_WINE_BITS:-32}" = 64 ]; then
  # The 64-bit loader and server by their paths: /usr/bin/wine and
  # /usr/bin/wineserver pick the 32-bit ones where those are installed.
  WINEARCH=win64
  WINELOADER=/usr/lib/wine/wine64
  WINESERVER=/usr/lib/wine/wineserver64
  export WINELOADER WINESERVER
else
  WINEARCH=win32
  WINELOADER=
fi
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY
unset WAYLAND_DISPLAY
wine=${WINELOADER:-wine}
if [ "$1" = "--boot" ]; then
  # Makes or updates the prefix, then waits (a minute at most) until the
  # server and the processes that booting started have ended, so that no
  # test runs while the prefix is still being set up.
  "$wine" wineboot -u || exit 1
  timeout 60 "${WINESERVER:-wineserver}" -w || true
  exit 0
fi
exec "$wine" "$@"
