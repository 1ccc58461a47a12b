#!/bin/sh
# Runs a Windows program under Wine in the tests' own Wine prefix, with no
# display, no debug output and no Mono/Gecko install prompts. CMake uses it as
# the emulator of the cross build; the Wine tests use it for every start.
# QB_WINEPREFIX overrides the prefix (default /tmp/quellatorbin-wine-<uid>).
WINEPREFIX=${QB_WINEPREFIX:-/tmp/quellatorbin-wine-$(id -u)}
WINEARCH=win32
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY
unset WAYLAND_DISPLAY
exec wine "$@"
