# Shared by the rq43 program's end-to-end tests: sourced with the build directory as $1.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
rq43="$build/rq43"
[ -x "$rq43" ] || { echo "FAIL: $rq43 not built" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Every test keeps its own store, so parallel tests never see each other's settings.
export RQ43_REGISTRY_FILE="$work/registry.txt"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_status STATUS COMMAND...: runs the command, output to $work/out and $work/err.
expect_status() {
  local want=$1; shift
  local got=0
  "$@" >"$work/out" 2>"$work/err" || got=$?
  [ "$got" -eq "$want" ] || fail "'$*' exited $got, expected $want; stderr: $(head -c 600 "$work/err")"
}

# A crash shows as a signal status (128+) or a sanitizer report; a refusal is status 1.
expect_no_crash() {
  local got=0
  "$@" >/dev/null 2>"$work/err" || got=$?
  [ "$got" -le 1 ] || fail "'$*' crashed with status $got: $(head -c 600 "$work/err")"
  ! grep -q "Sanitizer" "$work/err" || fail "'$*': $(head -c 600 "$work/err")"
  return 0
}

# make_clip FILE WIDTHxHEIGHT FRAMES [RATE]: a moving test picture as y4m (or by FILE's extension).
make_clip() {
  ffmpeg -v error -f lavfi -i "testsrc2=size=$2:rate=${4:-25}" -frames:v "$3" -pix_fmt yuv420p -y "$1"
}

# psnr_y A B: the average luma PSNR of two clips of the same size, by FFmpeg's own measure.
psnr_y() {
  ffmpeg -v info -i "$1" -i "$2" -lavfi psnr -f null - 2>&1 | sed -n 's/.*PSNR y:\([0-9.inf]*\).*/\1/p' | tail -1
}

# at_least A B: A >= B for decimal numbers.
at_least() {
  awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 >= b + 0) }'
}
