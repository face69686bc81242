#!/usr/bin/env bash
# The program's command line: help for every command, status 2 for usage errors, 1 for failures, and
# error lines that name the file and what is wrong with it.
source "$(dirname "$0")/cli_common.sh"

expect_status 0 "$rq43" --help
grep -q "encode" out || fail "program help lists no commands"
for command in encode decode info config demo; do
  expect_status 0 "$rq43" "$command" --help
  grep -q "usage: rq43 $command" out || fail "$command --help has no usage line"
done

expect_status 2 "$rq43"
expect_status 2 "$rq43" frobnicate
expect_status 2 "$rq43" encode
expect_status 2 "$rq43" encode only-one-argument
expect_status 2 "$rq43" encode --no-such-option in.y4m out.avi
expect_status 2 "$rq43" encode --quality 101 in.y4m out.avi
expect_status 2 "$rq43" encode --quality abc in.y4m out.avi
expect_status 2 "$rq43" encode --quality
expect_status 2 "$rq43" encode --bitrate 100 --frame-size 1000 in.y4m out.avi
expect_status 2 "$rq43" encode --input-format i420 in.y4m out.avi
expect_status 2 "$rq43" encode --prefilter 21 in.y4m out.avi
expect_status 2 "$rq43" encode --prefilter 5:0 in.y4m out.avi
expect_status 2 "$rq43" encode --crop=yes in.y4m out.avi
expect_status 2 "$rq43" encode in.y4m -
expect_status 2 "$rq43" decode in.avi
expect_status 2 "$rq43" decode in.avi out.unknown
expect_status 2 "$rq43" decode --format bmp in.avi out
expect_status 2 "$rq43" decode --md5 in.avi extra
expect_status 2 "$rq43" info
expect_status 2 "$rq43" config --set "Fast Search"
expect_status 2 "$rq43" config --set "Prefilter Strength=21"
expect_status 2 "$rq43" config --set "Prefilter Iterations=0"
expect_status 2 "$rq43" config --set "No Such Option=1"
expect_status 2 "$rq43" demo a b
grep -q "Try 'rq43 demo --help'" err || fail "usage errors do not point at the help"

# Failures: status 1 and one line naming the file.
expect_status 1 "$rq43" info missing.avi
grep -q "missing.avi: No such file or directory" err || fail "missing file: $(cat err)"
expect_status 1 "$rq43" encode missing.y4m out.avi
grep -q "missing.y4m" err || fail "missing input: $(cat err)"
[ ! -e out.avi ] || fail "a failed encode left its output behind"

echo "not a video" > notes.txt
expect_status 1 "$rq43" info notes.txt
grep -q "notes.txt: not an AVI file" err || fail "not an AVI: $(cat err)"
expect_status 1 "$rq43" encode notes.txt out.avi

ffmpeg -v error -f lavfi -i testsrc2=size=64x48 -frames:v 2 -c:v rawvideo -pix_fmt bgr24 -y raw.avi
expect_status 1 "$rq43" decode raw.avi out.y4m
grep -q "raw.avi: not an RQ43 stream" err || fail "foreign AVI: $(cat err)"

echo "not a video" > noise.bin
expect_status 1 "$rq43" encode - out.avi < noise.bin
grep -q "standard input: cannot open as video" err || fail "noise on standard input: $(cat err)"

printf 'YUV4MPEG2 W16 H16 F25:1\n' > empty.y4m
expect_status 1 "$rq43" encode - out.avi < empty.y4m
grep -q "standard input: holds no pictures" err || fail "empty input: $(cat err)"
[ ! -e out.avi ] || fail "an empty input left an AVI behind"
printf 'YUV4MPEG2 W8 H8 F25:1\nFRAME\n%096d' 0 > small.y4m
expect_status 1 "$rq43" encode --crop - out.avi < small.y4m
grep -q "cannot crop 8x8" err || fail "crop of a tiny picture: $(cat err)"

echo "cli usage: all passed"
