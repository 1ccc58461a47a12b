#!/bin/sh
# Runs a Windows program under Wine in the tests' own Wine prefix, with no
# display, no debug output and no Mono/Gecko install prompts. CMake uses it as
# the emulator of the cross build; the Wine tests use it for every start.
# QB_WINEPREFIX overrides the prefix (default /tmp/quellatorbin-wine-<uid>;
# CTest gives each build directory one of its own).
#   wine_run.sh PROGRAM ARGS...   runs a program
#   wine_run.sh --boot            makes the prefix, before the first test
WINEPREFIX=${QB_WINEPREFIX:-/tmp/quellatorbin-wine-$(id -u)}
WINEARCH=win32
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY
unset WAYLAND_DISPLAY
if [ "$1" = "--boot" ]; then
  # Makes or updates the prefix, then waits (a minute at most) until the
  # server and the processes that booting started have ended, so that no
  # test runs while the prefix is still being set up.
  wine wineboot -u || exit 1
  timeout 60 wineserver -w || true
  exit 0
fi
exec wine "$@"
