#!/usr/bin/env bash
# The stored options: config shows them with the dialog's wording, --set and --reset save all six, and
# encoding options apply to their run only.
source "$(dirname "$0")/cli_common.sh"

expect_status 0 "$rq43" config
grep -q "\[ \] High Speed Motion Search   (Def: Off)" out || fail "config wording: $(cat out)"
grep -q "\[x\] Auto-Insert Key Frames   (Def: On)" out || fail "defaults: $(cat out)"
grep -q "Off  *Prefilter Strength = 0" out || fail "strength label: $(cat out)"
grep -q "Tight (Radius = 1)" out || fail "radius label: $(cat out)"
[ ! -e "$RQ43_REGISTRY_FILE" ] || fail "showing the options wrote the store"

# One change saves all six, as the dialog's OK does.
expect_status 0 "$rq43" config --set "Prefilter Strength=7"
grep -q "7 - Medium" out || fail "strength 7 label: $(cat out)"
for name in "Fast Search" "SubBlock Motion" "Auto Key Insert" "Strong Compression" "Prefilter Strength" \
            "Prefilter Iterations"; do
  grep -q "\"$name\"" "$RQ43_REGISTRY_FILE" || fail "\"$name\" was not saved"
done
expect_status 0 "$rq43" config --set "prefilter iterations=3" --set "Fast Search=1" --set "Strong Compression=off"
grep -q "Medium (Radius = 3)" out && grep -q "\[x\] High Speed" out && grep -q "\[ \] Use strong" out ||
  fail "several --set: $(cat out)"
expect_status 0 "$rq43" config --set "Prefilter Strength=14"
grep -q "14 - Heavy" out || fail "strength 14 label"

# A refused value changes nothing.
cp "$RQ43_REGISTRY_FILE" before.txt
expect_status 2 "$rq43" config --set "Prefilter Strength=30" --set "Fast Search=0"
cmp -s before.txt "$RQ43_REGISTRY_FILE" || fail "a refused --set changed the store"

# Encoding options never reach the store, and the store is not rewritten by a run.
make_clip src.y4m 64x48 4
expect_status 0 "$rq43" encode --fast-search --sub-block --no-auto-key --weak --prefilter 3:2 --quality 50 \
  src.y4m run.avi
cmp -s before.txt "$RQ43_REGISTRY_FILE" || fail "encoding options changed the stored settings"
expect_status 0 "$rq43" encode src.y4m plain.avi
cmp -s before.txt "$RQ43_REGISTRY_FILE" || fail "encoding rewrote the stored settings"
expect_status 0 "$rq43" demo --frames 3 demo
cmp -s before.txt "$RQ43_REGISTRY_FILE" || fail "the demo changed the stored settings"

# The stored options do reach a run: a heavy prefilter changes the coded frames.
"$rq43" config --reset >/dev/null
"$rq43" encode src.y4m reset.avi 2>/dev/null
"$rq43" config --set "Prefilter Strength=20" --set "Prefilter Iterations=4" >/dev/null
"$rq43" encode src.y4m filtered.avi 2>/dev/null
! cmp -s reset.avi filtered.avi || fail "the stored prefilter did not reach the codec"
"$rq43" encode --prefilter 0 src.y4m unfiltered.avi 2>/dev/null
cmp -s reset.avi unfiltered.avi || fail "--prefilter 0 did not override the stored prefilter for the run"

expect_status 0 "$rq43" config --reset
grep -q "\[x\] Use strong compression" out && grep -q "Prefilter Strength = 0" out || fail "--reset: $(cat out)"

echo "cli settings: all passed"
