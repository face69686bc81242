#!/usr/bin/env bash
# The players' test: RQ43 AVI files played by GStreamer (rq43dec) and VLC (the rq43 module) must give the
# very pictures `rq43 decode` gives, from files written by rq43 and remuxed by FFmpeg, from a file, a
# playbin and a pipe, after an accurate seek, and past a damaged frame.
# Usage: scripts/players_test.sh [BUILD_DIR]   (default: build; configured and built here as needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
start=$SECONDS

scripts/bootstrap.sh libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base \
  gstreamer1.0-plugins-good gstreamer1.0-tools gstreamer1.0-plugins-base-apps libvlccore-dev vlc-bin \
  vlc-plugin-base

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake "$build" -DRQ43_BUILD_PLAYERS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target rq43_cli gstrq43 rq43_gst_seek rq43_vlc
build=$(cd "$build" && pwd)
rq43=$build/rq43

export RQ43_MODULE=$build/librq43.so
export GST_PLUGIN_PATH=$build/players/gstreamer
export GST_REGISTRY=$build/players/gstreamer/registry.bin
vlc_plugins=$build/players/vlc

work=$(mktemp -d /tmp/rq43-players.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cd "$work"
# The codec's defaults, whatever this machine's user has stored.
export RQ43_REGISTRY_FILE=$work/registry.txt

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

# Same bytes, or the first difference said.
same() {  # what expected actual
  if cmp -s "$2" "$3"; then pass "$1"; else fail "$1: $(cmp "$2" "$3" 2>&1 | head -1)"; fi
}

# A command whose output matters only when it fails.
quiet() {
  "$@" >run.log 2>&1 || { cat run.log >&2; fail "$*"; return 1; }
}

# ---- clips: an animated zoom, coded so that every motion-section method, key and delta frames and
# sub-block vectors all occur ----
W=176 H=144 N=30
ffmpeg -v error -y -f lavfi -i "mandelbrot=size=${W}x${H}:rate=25" -frames:v $N -pix_fmt yuv420p source.y4m
quiet "$rq43" encode --keyint 12 source.y4m plain.avi
quiet "$rq43" encode --sub-block source.y4m subblock.avi
methods=$( (for f in plain subblock; do "$rq43" info --frames $f.avi; done) |
  awk '$2 == "delta" { m[$8] = 1 } $2 == "key" { k = 1 } END { for (i in m) printf "%s", i; if (k) printf "k" }' |
  fold -w1 | sort | tr -d '\n')
[ "$methods" = 01234k ] && pass "clips hold key frames and motion methods 0-4" ||
  fail "the clips no longer cover every motion method and key frames (have: $methods)"
for f in plain subblock; do ffmpeg -v error -y -i $f.avi -c copy $f-remux.avi; done

frame420=$((W * H * 3 / 2))
frameuyvy=$((W * H * 2))

# ---- GStreamer ----
for f in plain subblock plain-remux subblock-remux; do
  quiet "$rq43" decode $f.avi $f.ref.yuv
  quiet gst-launch-1.0 -q filesrc location=$f.avi ! decodebin ! videoconvert ! video/x-raw,format=I420 ! \
    filesink location=$f.gst.yuv && same "gst decodebin $f" $f.ref.yuv $f.gst.yuv
done
for player in playbin playbin3; do
  quiet gst-launch-1.0 -q $player uri="file://$work/subblock-remux.avi" audio-sink=fakesink \
    video-sink="videoconvert ! video/x-raw,format=I420 ! filesink location=$work/$player.yuv" &&
    same "gst $player" subblock-remux.ref.yuv $player.yuv
done
quiet gst-launch-1.0 -q fdsrc fd=0 ! decodebin ! videoconvert ! video/x-raw,format=I420 ! filesink location=pipe.yuv \
  <plain.avi && same "gst fdsrc (standard input)" plain.ref.yuv pipe.yuv

# RGB comes out top row first, as the codec's own RGB output.
quiet "$rq43" decode --format rgb24 plain.avi plain.ref.bgr
quiet gst-launch-1.0 -q filesrc location=plain.avi ! decodebin ! video/x-raw,format=BGR ! filesink location=gst.bgr &&
  same "gst BGR output" plain.ref.bgr gst.bgr

# An accurate seek into the middle of a group of frames (key frames at 0, 12, 24): from frame 17 on.
for f in plain plain-remux; do
  tail -c $(((N - 17) * frame420)) $f.ref.yuv >$f.ref-tail.yuv
  quiet "$build/players/rq43_gst_seek" $f.avi 17 $f.seek.yuv &&
    same "gst accurate seek to frame 17 ($f)" $f.ref-tail.yuv $f.seek.yuv
done

# A damaged delta frame (frame 5: its key byte made invalid) plays to the end with a warning; pictures
# resume at the next key frame (12) exactly.
cp plain.avi damaged.avi
pos=$(ffprobe -v error -select_streams v -show_entries packet=pos -of csv=p=0 damaged.avi | sed -n 6p)
printf '\x7f' | dd of=damaged.avi bs=1 seek=$((pos + 1)) conv=notrunc status=none
tail -c $(((N - 12) * frame420)) plain.ref.yuv >plain.ref-from12.yuv
if gst-launch-1.0 filesrc location=damaged.avi ! decodebin ! videoconvert ! video/x-raw,format=I420 ! \
  filesink location=damaged.gst.yuv >gst.log 2>&1; then
  grep -q "Damaged RQ43 frame" gst.log && pass "gst warns of the damaged frame" ||
    fail "gst: no warning for the damaged frame"
  tail -c $(((N - 12) * frame420)) damaged.gst.yuv >damaged.gst-tail.yuv
  same "gst plays past the damaged frame" plain.ref-from12.yuv damaged.gst-tail.yuv
  [ "$(stat -c %s damaged.gst.yuv)" -eq $(((N - 7) * frame420)) ] && pass "gst drops frames 5-11 only" ||
    fail "gst gave $(($(stat -c %s damaged.gst.yuv) / frame420)) pictures, expected $((N - 7))"
else
  cat gst.log >&2
  fail "gst stopped at the damaged frame"
fi

# ---- VLC (refuses to run as root: an unprivileged user of its own) ----
as_player=()
if [ "$(id -u)" -eq 0 ]; then
  id rq43play >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin rq43play
  as_player=(runuser -u rq43play --)
fi
mkdir -m 777 vlc
# Decoded and written as raw UYVY, as fast as VLC can (a display would run by the clock and, on a busy
# machine, skip pictures).
vlc_uyvy() {  # in.avi out.uyvy log
  "${as_player[@]}" env HOME="$work/vlc" VLC_PLUGIN_PATH="$vlc_plugins" RQ43_MODULE="$RQ43_MODULE" \
    cvlc -I dummy --no-audio --sout "#transcode{vcodec=UYVY}:std{access=file,mux=raw,dst=$work/vlc/$2}" \
    --play-and-exit "$work/$1" >"$3" 2>&1
}
# One MD5 per picture of a raw UYVY file.
picture_md5s() {
  local i
  for ((i = 0; i < $(stat -c %s "$1") / frameuyvy; i++)); do
    dd if="$1" bs=$frameuyvy skip=$i count=1 status=none | md5sum | cut -c1-32
  done
}
# VLC's pictures must be the reference's, of which it may leave out the last: its stream output ends
# before the final picture.
vlc_check() {  # what ref.uyvy out.uyvy
  local what=$1 shown expected
  [ -s "vlc/$3" ] || { fail "$what: VLC wrote nothing"; return; }
  shown=$(picture_md5s "vlc/$3")
  expected=$(picture_md5s "$2")
  if [ "$shown" = "$expected" ] || [ "$shown" = "$(head -n -1 <<<"$expected")" ]; then
    pass "$what ($(wc -l <<<"$shown") pictures)"
  else
    fail "$what: VLC's pictures differ from rq43 decode's ($(wc -l <<<"$shown") pictures)"
  fi
}
for f in plain subblock plain-remux subblock-remux; do
  quiet "$rq43" decode --format uyvy $f.avi $f.ref.uyvy
  vlc_uyvy $f.avi $f.uyvy vlc.log || { cat vlc.log >&2; fail "VLC failed on $f"; continue; }
  vlc_check "vlc $f" $f.ref.uyvy $f.uyvy
done
if vlc_uyvy damaged.avi damaged.uyvy vlc.log; then
  grep -q "rq43 .*error: damaged frame" vlc.log && pass "vlc reports the damaged frame" ||
    fail "vlc: no error for the damaged frame"
  # Frames 0-4, then 12 on.
  { head -c $((5 * frameuyvy)) plain.ref.uyvy; tail -c $(((N - 12) * frameuyvy)) plain.ref.uyvy; } >damaged.ref.uyvy
  vlc_check "vlc plays past the damaged frame" damaged.ref.uyvy damaged.uyvy
else
  cat vlc.log >&2
  fail "VLC failed on the damaged file"
fi

echo "players test: $failures failure(s), $((SECONDS - start)) s"
[ "$failures" -eq 0 ]
