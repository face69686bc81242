#!/usr/bin/env bash
# Builds the fuzz targets (clang-14 with libFuzzer, address and undefined-behaviour sanitizers) in
# build-fuzz/ and runs them.
#
#   scripts/fuzz.sh [--time SECONDS] [--jobs N] [TARGET...]
#       runs each TARGET (default: all) for SECONDS (default 600), N processes at once (default 1),
#       growing a working corpus in build-fuzz/corpus/TARGET from the seeds in fuzz/corpus/TARGET.
#       A failing input lands in build-fuzz/artifacts/TARGET/; reproduce it with
#       build-fuzz/fuzz/TARGET_fuzz FILE.
#   scripts/fuzz.sh --replay     runs every input of fuzz/corpus once, and stops at the first failure
#   scripts/fuzz.sh --seeds      rewrites fuzz/corpus with the codec's own encoder
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=600
jobs=1
action=run
targets=()
while (($#)); do
  case $1 in
    --time) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --replay) action=replay; shift ;;
    --seeds) action=seeds; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done

scripts/bootstrap.sh clang-14 libclang-rt-14-dev
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRQ43_FUZZ=ON -DRQ43_SANITIZE=ON -DRQ43_BUILD_TESTS=OFF -DRQ43_BUILD_TOOLS=ON -DRQ43_BUILD_BENCH=OFF \
  "${launcher[@]}" >/dev/null
mapfile -t known < build-fuzz/fuzz_targets.txt
((${#targets[@]})) || targets=("${known[@]}")
build=(rq43_fuzz_seeds)
for target in "${targets[@]}"; do build+=("${target}_fuzz"); done
cmake --build build-fuzz -j "$(nproc)" --target "${build[@]}"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 UBSAN_OPTIONS=print_stacktrace=1
# Each input a complete run; inputs above 64 KiB only repeat what smaller ones reach.
options=(-max_len=65536 -timeout=20 -rss_limit_mb=2048)
# Runs one target with the given arguments, its log in build-fuzz/TARGET.log; shows the summary, or the
# whole report of a failure.
run_target() {
  local target=$1; shift
  local log="build-fuzz/$target.log"
  if "build-fuzz/fuzz/${target}_fuzz" "${options[@]}" "$@" >"$log" 2>&1; then
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|Executed|Done)" "$log" || true
  else
    tail -n 60 "$log" >&2
    echo "fuzz: $target failed (log: $log)" >&2
    exit 1
  fi
}

case $action in
  seeds)
    # The program's seeds (avi_input: a small file of `rq43 encode` and a y4m picture) are kept as they are.
    rm -rf fuzz/corpus/decoder fuzz/corpus/encoder fuzz/corpus/formats
    build-fuzz/fuzz/rq43_fuzz_seeds fuzz/corpus
    du -sh fuzz/corpus ;;
  replay)
    for target in "${targets[@]}"; do
      mapfile -t inputs < <(find "fuzz/corpus/$target" -type f | sort)
      echo "fuzz: replaying ${#inputs[@]} inputs of $target"
      run_target "$target" "${inputs[@]}"
    done ;;
  run)
    parallel=()
    ((jobs > 1)) && parallel=(-jobs="$jobs" -workers="$jobs")
    for target in "${targets[@]}"; do
      mkdir -p "build-fuzz/corpus/$target" "build-fuzz/artifacts/$target"
      echo "fuzz: $target for ${seconds}s"
      run_target "$target" -max_total_time="$seconds" -print_final_stats=1 "${parallel[@]}" \
        -artifact_prefix="build-fuzz/artifacts/$target/" "build-fuzz/corpus/$target" "fuzz/corpus/$target"
    done ;;
esac
