#!/usr/bin/env bash
# No data lost: a failed or interrupted encode leaves every file it did not create as it was, and
# impossible inputs are refused before anything large is allocated.
source "$(dirname "$0")/cli_common.sh"

make_clip src.y4m 64x48 8
printf 'YUV4MPEG2 W16 H16 F25:1\n' > empty.y4m

# A failed encode keeps the file it was to replace, and leaves no temporary file behind.
echo "the user's earlier file" > keep.avi
cp keep.avi keep.orig
expect_status 1 "$rq43" encode empty.y4m keep.avi
cmp -s keep.avi keep.orig || fail "a failed encode damaged the existing output"
[ "$(ls -A | grep -c rq43)" = 0 ] || fail "temporary files left: $(ls -A)"
# A successful one replaces it whole and keeps its permissions.
chmod 640 keep.avi
expect_status 0 "$rq43" encode src.y4m keep.avi
[ "$(stat -c %a keep.avi)" = 640 ] || fail "the replaced file lost its permissions"
expect_status 0 "$rq43" info keep.avi

# A device node as output is refused, never removed.
if mknod node c 1 3 2>/dev/null; then
  expect_status 1 "$rq43" encode src.y4m node
  [ -c node ] || fail "the device node was removed"
  grep -q "not a regular file" err || fail "device output: $(cat err)"
fi
# A file the user may not write stays as it is (root may write anything, so only as another user).
if [ "$(id -u)" != 0 ]; then
  mkdir locked && cp keep.orig locked/keep.avi && chmod 555 locked
  expect_status 1 "$rq43" encode src.y4m locked/keep.avi
  cmp -s locked/keep.avi keep.orig || fail "an encode without permission damaged the output"
  chmod 755 locked
fi

# Ctrl-C while the encoder waits for input: one line, status 130, the earlier file kept, nothing left over.
cp keep.orig wait.avi
mkfifo pipe
{ head -c $((64 * 48 * 3 / 2 * 3 + 100)) src.y4m; exec sleep 30; } > pipe 2>/dev/null &
feeder=$!
set -m  # a background job of a script ignores Ctrl-C unless job control is on
"$rq43" encode - wait.avi < pipe >out 2>err &
encoder=$!
set +m
sleep 2  # it codes what came and waits for more
kill -INT "$encoder"
status=0
wait "$encoder" || status=$?
kill "$feeder" 2>/dev/null || true
[ "$status" = 130 ] || fail "interrupted encode exited $status: $(cat err)"
[ "$(wc -l < err)" = 1 ] && grep -q "interrupted" err || fail "interrupted encode said: $(cat err)"
cmp -s wait.avi keep.orig || fail "an interrupted encode replaced the existing file"
[ "$(ls -A | grep -c rq43)" = 0 ] || fail "temporary files left after Ctrl-C: $(ls -A)"

# Frame rates no 32-bit ratio of the container can hold.
for rate in 1:4294967295 4294967295:1; do
  printf "YUV4MPEG2 W16 H16 F$rate C420jpeg\nFRAME\n%0384d" 0 > rate.y4m
  expect_status 1 "$rq43" encode rate.y4m rate.avi
  grep -q "frame rate" err || fail "rate $rate: $(cat err)"
  expect_status 1 "$rq43" encode - rate.avi < rate.y4m
done

# Pictures: one larger than the codec takes is refused with the limit; a huge header with no picture
# behind it is refused without allocating for it (bounded here by the address space).
printf 'YUV4MPEG2 W32768 H32768 F25:1 C444\nFRAME\n' > huge.y4m
expect_status 1 "$rq43" encode - huge.avi < huge.y4m
grep -q "at most 536870909 pixels" err || fail "oversized picture: $(cat err)"
printf 'YUV4MPEG2 W8192 H8192 F25:1 C444\nFRAME\n' > big.y4m
expect_status 1 "$rq43" encode - big.avi < big.y4m
grep -q "holds no pictures" err || fail "big empty picture: $(cat err)"
# The sanitizer reserves more address space than this limit. (No grep -q: its early exit would make ldd
# fail on a closed pipe, and pipefail would take that for "no sanitizer".)
if ! ldd "$rq43" 2>/dev/null | grep libasan >/dev/null; then
  (ulimit -v 1000000 && "$rq43" encode big.y4m big.avi) >out 2>err && fail "a picture-less file encoded"
  grep -q "holds no pictures" err || fail "big empty picture under a memory limit: $(cat err)"
fi

echo "cli safety: all passed"
