#!/usr/bin/env bash
# rq43 beside FFmpeg's mpeg4 encoder and decoder (-q:v 4, one thread) on the same clips: frames per
# second of each (best of RUNS, the two programs alternating so that a busy machine slows both alike),
# their ratio, and the bits per pixel and luma PSNR each reaches. Frames per second are per frame: the time
# of a one-frame run (start-up, first frame) is taken from the whole run's, over the other frames.
#
# usage: bench/compare_mpeg4.sh [RQ43] [RUNS]     (RQ43: the rq43 program, default build/rq43; RUNS: 3)
# environment: SIZES (default "640x480 1280x720"), FRAMES (default 60), RQ43_CPU (kernel level of rq43),
# CASES (default "decode fast full").
set -euo pipefail

rq43=$(realpath "${1:-build/rq43}")
runs=${2:-3}
frames=${FRAMES:-60}
cases=${CASES:-decode fast full}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The codec's default settings, whatever the user has stored (a stored Fast Search would make "full" fast).
export RQ43_REGISTRY_FILE="$work/settings.txt"
cd "$work"

now() { date +%s.%N; }
# Seconds of the fastest of the timed runs of one program, kept in best[$1].
declare -A best
timed() {
    local key=$1 start end
    shift
    start=$(now)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
    end=$(now)
    best[$key]=$(echo "$start $end ${best[$key]:-1e9}" | awk '{ t = $2 - $1; print (t < $3 ? t : $3) }')
}
psnr_y() {  # decoded file, source
    ffmpeg -v info -nostats -i "$1" -i "$2" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 |
        sed -n 's/.* y:\([0-9.inf]*\) .*/\1/p' | tail -1 | awk '{ printf "%.2f", $1 }'
}
bpp() { echo "$(stat -c %s "$1") $2" | awk '{ printf "%.3f", $1 * 8 / $2 }'; }

printf "%-10s %-7s %10s %10s %7s %9s %9s %9s %9s\n" clip case "rq43 fps" "mpeg4 fps" ratio \
    "rq43 bpp" "mpeg4 bpp" "rq43 dB" "mpeg4 dB"
for size in ${SIZES:-640x480 1280x720}; do
    # A moving test pattern with a little grain, as camera video has: noise is what keeps a full search busy.
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -vf "noise=alls=6:allf=t" -frames:v "$frames" \
        -pix_fmt yuv420p src.y4m
    pixels=$(echo "$size $frames" | awk '{ split($1, d, "x"); print d[1] * d[2] * $2 }')
    ffmpeg -v error -y -i src.y4m -frames:v 1 one.y4m
    mpeg4_encode() { ffmpeg -v error -y -threads 1 -i "$1" -c:v mpeg4 -q:v 4 -threads 1 "$2"; }
    rq43_decode() { "$rq43" decode "$1" - >/dev/null; }
    mpeg4_decode() { ffmpeg -v error -threads 1 -i "$1" -f yuv4mpegpipe - >/dev/null; }
    for case in $cases; do
        best=()
        flags=()
        [ "$case" = fast ] && flags=(--fast-search)
        rq43_encode() { "$rq43" encode "${flags[@]}" "$1" "$2"; }
        for ((run = 0; run < runs; ++run)); do
            if [ "$case" = decode ]; then
                [ -f rq43.avi ] || { rq43_encode src.y4m rq43.avi && rq43_encode one.y4m rq43-one.avi; } >/dev/null 2>&1
                [ -f mpeg4.avi ] || { mpeg4_encode src.y4m mpeg4.avi && mpeg4_encode one.y4m mpeg4-one.avi; }
                timed rq43 rq43_decode rq43.avi
                timed mpeg4 mpeg4_decode mpeg4.avi
                timed rq43-one rq43_decode rq43-one.avi
                timed mpeg4-one mpeg4_decode mpeg4-one.avi
            else
                timed rq43 rq43_encode src.y4m rq43.avi
                timed mpeg4 mpeg4_encode src.y4m mpeg4.avi
                timed rq43-one rq43_encode one.y4m rq43-one.avi
                timed mpeg4-one mpeg4_encode one.y4m mpeg4-one.avi
            fi
        done
        "$rq43" decode rq43.avi rq43.y4m >/dev/null 2>&1
        read -r fps_rq43 fps_mpeg4 ratio < <(echo "$frames ${best[rq43]} ${best[rq43-one]} ${best[mpeg4]} \
            ${best[mpeg4-one]}" | awk '{ a = ($1 - 1) / ($2 - $3); b = ($1 - 1) / ($4 - $5)
                                         printf "%.1f %.1f %.3f\n", a, b, a / b }')
        printf "%-10s %-7s %10s %10s %7s %9s %9s %9s %9s\n" "$size" "$case" "$fps_rq43" "$fps_mpeg4" "$ratio" \
            "$(bpp rq43.avi "$pixels")" "$(bpp mpeg4.avi "$pixels")" "$(psnr_y rq43.y4m src.y4m)" \
            "$(psnr_y mpeg4.avi src.y4m)"
    done
    rm -f ./*.avi ./*.y4m
done
