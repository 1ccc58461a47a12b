#!/usr/bin/env bash
# Runs the whole test suite from a fresh clone: installs what the machine
# lacks (Debian packages), builds, and runs every test through CTest.
#
# The tests that run the launcher, a stand-in or Wine run in a process table
# of their own (tests/isolated.sh) and are skipped where none can be made. A
# skipped test fails the whole command, after everything else has run, unless
# QB_ALLOW_SKIPS=1 is set.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libgtest-dev python3 faketime)
# Benchmarks: bench/run.sh, which the tests run in its quick mode.
packages+=(hyperfine time procps)
packages+=(clang libclang-rt-14-dev clang-tidy cppcheck valgrind) # hardening: sanitizers, fuzzing, analysers, memcheck
# Installs those of the named Debian packages that are missing.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
  fi
}
install_missing "${packages[@]}"

# Runs ctest with the given arguments and counts the tests it skipped.
skipped=()
run_ctest() {
  local log status
  log=$(mktemp)
  set +e
  ctest --output-on-failure --no-tests=error "$@" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  while read -r name; do skipped+=("$name"); done < <(sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*$/\1/p' "$log")
  rm -f "$log"
  return "$status"
}

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DQUELLATORBIN_WERROR=ON
cmake --build build -j2
run_ctest --test-dir build -LE memcheck

# --- Windows builds (mingw-w64), tested under Wine. The program that ships
# is the 32-bit one (build-win/); the same sources also build as a 64-bit
# program (build-win64/), compiled in every run, so that a fault only a
# 64-bit build shows breaks the build here. The Wine tests run the 32-bit
# program where this machine runs 32-bit programs, and the 64-bit one where
# its kernel refuses them (QB_WINE_BITS=64 asks for that anywhere). Which
# kind of machine this is, a tiny 32-bit program tells by running or not.
# Both need the ja_JP.UTF-8 locale for the test of a program name in code
# page 932.
if [ "${QB_WINE_BITS:-}" = 64 ]; then
  wine_bits=64 why="QB_WINE_BITS=64 asks for it"
elif reason=$(python3 tests/wine/runs_32_bit.py); then
  wine_bits=32 why="this machine runs 32-bit programs"
else
  wine_bits=64 why="this machine runs no 32-bit programs ($reason)"
fi
win_packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest locales)
if [ "$wine_bits" = 32 ]; then
  # wine32 comes from the i386 architecture.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture"
    dpkg --add-architecture i386
  fi
  win_packages+=(wine wine32:i386)
else
  # Never wine32 here: with it, /usr/bin/wine picks the 32-bit loader.
  win_packages+=(wine wine64)
fi
install_missing "${win_packages[@]}"
if ! locale -a | grep -qx 'ja_JP.utf8'; then
  echo "generating the locale ja_JP.UTF-8"
  if grep -q '^# *ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
    sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  else
    echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  fi
  locale-gen
fi

for bits in 32 64; do
  dir=build-win toolchain=cmake/mingw-w64-i686.cmake
  [ "$bits" = 64 ] && dir=build-win64 toolchain=cmake/mingw-w64-x86_64.cmake
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DQUELLATORBIN_WERROR=ON \
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DQUELLATORBIN_HOST_PROBE="$PWD/build/tests/argv_probe"
  cmake --build "$dir" -j2
done
wine_dir=build-win
[ "$wine_bits" = 64 ] && wine_dir=build-win64
echo "Windows tests under Wine: the ${wine_bits}-bit build ($wine_dir/), as $why"
if [ "$wine_bits" = 32 ]; then
  run_ctest --test-dir build-win
else
  # The 32-bit program's own checks that run no Windows program (imports,
  # machine type, version resource, manifest, archives), then every test of
  # the 64-bit build.
  run_ctest --test-dir build-win -LE wine
  run_ctest --test-dir build-win64
fi

# Hardening: the unit and end-to-end tests with the launcher under valgrind's
# memcheck; the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang); the static analysers over the program's
# code; and each fuzz target for a bounded time. The ASan allocator must not
# read the clock on its own: libfaketime, preloaded by the end-to-end tests,
# takes that call while it is itself still starting and the process deadlocks.
run_ctest --test-dir build -L memcheck
CC=clang CXX=clang++ cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUELLATORBIN_SANITIZE=ON \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
cmake --build build-asan -j2
ASAN_OPTIONS=allocator_release_to_os_interval_ms=-1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest --test-dir build-asan
bash tests/static_analysis.sh build-asan build-win
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELLATORBIN_FUZZ=ON \
  -DQUELLATORBIN_TESTS=OFF -DQUELLATORBIN_FUZZ_SECONDS="${QUELLATORBIN_FUZZ_SECONDS:-60}"
cmake --build build-fuzz -j2
run_ctest --test-dir build-fuzz -j2

if [ ${#skipped[@]} -gt 0 ]; then
  echo "skipped: ${skipped[*]}"
  if [ "${QB_ALLOW_SKIPS:-0}" != 1 ]; then
    echo "tests were skipped (see above why); QB_ALLOW_SKIPS=1 accepts that" >&2
    exit 1
  fi
fi
