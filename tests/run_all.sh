#!/usr/bin/env bash
# Runs the whole test suite from a fresh clone: installs what the machine
# lacks (Debian packages), builds, and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libgtest-dev python3 faketime)
# Benchmarks: bench/run.sh, which the tests run in its quick mode.
packages+=(hyperfine time procps)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure --no-tests=error
