#!/usr/bin/env bash
# The hostile-input checks of the test run, bounded to a few minutes on two cores:
#  - the fuzz targets (address and undefined-behaviour sanitizers) replay the seed corpus, then each runs
#    for RQ43_FUZZ_SECONDS (default 30) from it;
#  - a thread-sanitizer build runs the threaded tests: two workers, instances on several threads,
#    instances opened and closed while others work.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
scripts/fuzz.sh --replay
scripts/fuzz.sh --time "${RQ43_FUZZ_SECONDS:-30}"
echo "fuzz_ci: fuzzing took $((SECONDS - started))s"

started=$SECONDS
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang-14 CXX=clang++-14 cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRQ43_SANITIZE_THREAD=ON -DRQ43_BUILD_TOOLS=OFF -DRQ43_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-tsan -j "$(nproc)" --target rq43_tests
RQ43_REGISTRY_FILE="$PWD/build-tsan/test-registry.txt" TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  build-tsan/tests/rq43_tests --gtest_filter='*Worker*:*Concurrent*:*Thread*' --gtest_brief=1
echo "fuzz_ci: thread sanitizer took $((SECONDS - started))s"
