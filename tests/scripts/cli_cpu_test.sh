#!/usr/bin/env bash
# --cpu forces the codec's kernel level, --version names it, and every level writes the same file and
# decodes the same pictures.
source "$(dirname "$0")/cli_common.sh"

expect_status 0 "$rq43" --cpu c --version
grep -q "kernels: c" out || fail "--cpu c: $(cat out)"
expect_status 2 "$rq43" --version --cpu=fast
expect_status 2 "$rq43" info --cpu

make_clip src.y4m 176x144 6
expect_status 0 "$rq43" encode --sub-block src.y4m best.avi
expect_status 0 "$rq43" decode --md5 best.avi
mv out best.md5
for level in c sse2; do
  expect_status 0 "$rq43" encode --cpu "$level" --sub-block src.y4m "$level.avi"
  cmp -s best.avi "$level.avi" || fail "the $level kernels write a different file"
  expect_status 0 "$rq43" decode --md5 "$level.avi" --cpu="$level"
  cmp -s best.md5 out || fail "the $level kernels decode different pictures"
done
