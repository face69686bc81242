#!/usr/bin/env bash
# Damaged files: decoding reports the damage, keeps going, exits 1, and never crashes.
source "$(dirname "$0")/cli_common.sh"

make_clip src.y4m 96x64 12
"$rq43" encode --keyint 4 src.y4m clip.avi 2>/dev/null
size=$(stat -c %s clip.avi)
movi=$(grep -abo movi clip.avi | head -1 | cut -d: -f1)
first=$((movi + 12))  # the first frame's data, after the chunk header

# Truncated: every prefix size class, from inside the headers to inside the last frame.
for cut in 100 $((first + 4)) $((size / 2)) $((size - 40)); do
  head -c "$cut" clip.avi > cut.avi
  expect_no_crash "$rq43" decode --md5 cut.avi
  expect_status 1 "$rq43" decode --md5 cut.avi
  expect_no_crash "$rq43" info --frames cut.avi
done
head -c $((size / 2)) clip.avi > cut.avi
expect_status 1 "$rq43" decode cut.avi cut.y4m
grep -q "truncated" err || fail "truncation not reported: $(cat err)"
[ "$(grep -c FRAME cut.y4m)" -ge 1 ] || fail "the frames before the cut were not written"

flip() {  # flip FILE OFFSET BYTE
  printf "\\x$(printf %02x "$3")" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# A flipped bit in the first frame's section lengths: that frame is damaged, the picture is held until
# the next key frame, every frame is still written, and the exit status says so.
cp clip.avi flipped.avi
flip flipped.avi $((first + 7)) 0x80
expect_status 1 "$rq43" decode --md5 flipped.avi
grep -q "frame 0 is damaged" err || fail "damage not reported: $(cat err)"
[ "$(wc -l < out)" = 12 ] || fail "damaged stream did not keep every frame"
"$rq43" decode --md5 clip.avi > good.md5
[ "$(sed -n 5p out)" = "$(sed -n 5p good.md5)" ] || fail "decoding did not recover at the next key frame"

# A key flag that is neither 0 nor 1.
cp clip.avi badkey.avi
flip badkey.avi $((first + 1)) 7
expect_status 1 "$rq43" decode --md5 badkey.avi

# Random damage anywhere in the frame data: refused or decoded, never a crash.
for round in $(seq 1 40); do
  cp clip.avi random.avi
  for n in 1 2 3; do
    flip random.avi $((first + (RANDOM * 32768 + RANDOM) % (size - first - 200))) $((RANDOM % 256))
  done
  expect_no_crash "$rq43" decode --md5 random.avi
  expect_no_crash "$rq43" info --frames random.avi
done

# Damage in the headers themselves.
for offset in 4 40 100 180 200; do
  cp clip.avi header.avi
  flip header.avi "$offset" 0xff
  expect_no_crash "$rq43" decode --md5 header.avi
done

echo "cli damage: all passed"
