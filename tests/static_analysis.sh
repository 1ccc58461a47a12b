#!/usr/bin/env bash
# Static analysis of the program's own code (not the tests): cppcheck and
# clang-tidy, with the configuration in .clang-tidy and
# tests/cppcheck-suppressions.txt, over the files each build compiles. Give
# build directories configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON: the
# Linux build for everything it compiles, the mingw-w64 build for the Windows
# platform layer (each file is analysed once, with its first build's flags).
# Fails on any finding.
#   static_analysis.sh BUILD_DIR [BUILD_DIR...]
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -gt 0 ] || { echo "usage: static_analysis.sh BUILD_DIR [BUILD_DIR...]" >&2; exit 2; }

dirs=(base launcher settings timing capture platform demo)
failed=0
seen=()
echo "cppcheck $(cppcheck --version); $(clang-tidy --version | grep -i version)"
for build in "$@"; do
  # The files this build compiles that no build before it gave (the compile
  # database knows their flags).
  mapfile -t files < <(python3 - "$build/compile_commands.json" "${dirs[@]}" -- "${seen[@]}" <<'PY'
import json, os, sys
args = sys.argv[1:]
cut = args.index("--")
database, dirs, seen = args[0], tuple(d + "/" for d in args[1:cut]), set(args[cut + 1:])
root = os.getcwd()
for entry in json.load(open(database)):
    rel = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    if rel.startswith(dirs) and rel not in seen:
        seen.add(rel)
        print(rel)
PY
)
  [ ${#files[@]} -gt 0 ] || continue
  seen+=("${files[@]}")
  platform=native
  if grep -q mingw "$build/compile_commands.json"; then
    platform="win32A -D_WIN32"
  fi
  echo "static analysis of ${#files[@]} files of $build"
  # shellcheck disable=SC2086 # $platform is an option and its value
  cppcheck --std=c++17 --language=c++ --enable=warning,style,performance,portability --inconclusive \
    --inline-suppr --suppressions-list=tests/cppcheck-suppressions.txt --error-exitcode=1 --quiet \
    --platform=$platform -I . --template='{file}:{line}: {severity} [{id}] {message}' "${files[@]}" || failed=1

  # One file per process: clang-tidy 14 carries the analyser's va_list state
  # from one file to the next and then reports a va_start it has seen as missing.
  status=0
  printf '%s\n' "${files[@]}" |
    xargs -P 2 -I{} clang-tidy -p "$build" --quiet {} >"$build/clang-tidy.log" 2>&1 || status=$?
  if [ $status -ne 0 ] || grep -q 'warning:\|error:' "$build/clang-tidy.log"; then
    grep -v '^[0-9]* warnings\? generated\.$' "$build/clang-tidy.log"
    echo "clang-tidy found problems in $build"
    failed=1
  fi
done
[ $failed -eq 0 ] || exit 1
echo "static analysis clean"
