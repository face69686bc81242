#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds, and runs every test twice: in the normal build and in the
# address + undefined-behaviour sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap.sh
scripts/format_check.sh  # the tree as .clang-format has it
jobs=$(nproc)

build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build && ctest --output-on-failure -j "$jobs")
scripts/players_test.sh build

build build-sanitize -DCMAKE_BUILD_TYPE=Debug -DRQ43_SANITIZE=ON -DRQ43_BUILD_BENCH=OFF
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")

scripts/fuzz_ci.sh  # hostile input: fuzz targets, corpus replay, thread-sanitizer tests

# The Windows driver, cross-built and exercised under Wine, where that part of the project exists.
if [ -x scripts/windows_test.sh ]; then
  scripts/windows_test.sh
fi
