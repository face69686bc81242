#!/usr/bin/env bash
# Encode a generated clip, check the AVI with ffprobe, decode it and compare with the source.
source "$(dirname "$0")/cli_common.sh"

make_clip src.y4m 176x144 30 30000/1001
expect_status 0 "$rq43" encode --psnr src.y4m clip.avi
grep -q "30 frames" err || fail "encode summary: $(cat err)"
grep -q "PSNR Y" err || fail "no PSNR in the summary: $(cat err)"

# ffprobe reads the stream as the codec wrote it: tag, size, rate, frame count and key frames, and finds
# nothing wrong with the file (it only has no decoder for the codec, which is a warning, not an error).
ffprobe -v error -show_format -show_streams clip.avi >/dev/null 2>probe.err || fail "ffprobe failed: $(cat probe.err)"
[ ! -s probe.err ] || fail "ffprobe complains: $(cat probe.err)"
probe() { ffprobe -v error -count_packets -select_streams v:0 -show_entries "stream=$1" -of default=nw=1:nk=1 clip.avi; }
[ "$(probe codec_tag_string)" = RQ43 ] || fail "codec tag $(probe codec_tag_string)"
[ "$(probe width)x$(probe height)" = 176x144 ] || fail "size $(probe width)x$(probe height)"
[ "$(probe r_frame_rate)" = 30000/1001 ] || fail "frame rate $(probe r_frame_rate)"
[ "$(probe nb_read_packets)" = 30 ] || fail "ffprobe counts $(probe nb_read_packets) frames"
probe_keys=$(ffprobe -v error -show_entries packet=flags -of csv=p=0 clip.avi | grep -c K)
expect_status 0 "$rq43" info clip.avi
info_keys=$(sed -n 's/^key frames *//p' out)
[ "$probe_keys" = "$info_keys" ] || fail "ffprobe sees $probe_keys key frames, info $info_keys"
[ "$probe_keys" -ge 2 ] || fail "no periodic key frame in 30 frames (keyint 25)"
grep -q "frames      30" out || fail "info: $(cat out)"
flags=$(ffprobe -v error -show_entries packet=flags -of csv=p=0 clip.avi)
[[ "${flags%%$'\n'*}" == K* ]] || fail "first frame is not a key frame"

expect_status 0 "$rq43" info --frames clip.avi
[ "$(grep -c ' bytes  quality' out)" = 30 ] || fail "info --frames: $(tail -3 out)"
grep -q "^     0 key" out || fail "info --frames does not start with a key frame"

# The decoded clip is the source within a PSNR bound, and the y4m header keeps size and rate.
expect_status 0 "$rq43" decode clip.avi dec.y4m
head -1 dec.y4m | grep -q "W176 H144 F30000:1001" || fail "y4m header: $(head -1 dec.y4m)"
psnr=$(psnr_y dec.y4m src.y4m)
at_least "$psnr" 32 || fail "luma PSNR $psnr dB"
at_least 60 "$psnr" || fail "luma PSNR $psnr dB is implausibly high for a lossy codec"

# Lower quality gives a smaller file and a lower PSNR.
expect_status 0 "$rq43" encode --quality 30 src.y4m low.avi
[ "$(stat -c %s low.avi)" -lt "$(stat -c %s clip.avi)" ] || fail "quality 30 is not smaller than the default"
expect_status 0 "$rq43" decode low.avi low.y4m
at_least "$psnr" "$(psnr_y low.y4m src.y4m)" || fail "quality 30 is not worse than the default"

# Conformance checksums: stable across runs, the same for stdin input, equal to the decoded planes.
"$rq43" decode --md5 clip.avi > md5a
"$rq43" decode --md5 clip.avi > md5b
cmp -s md5a md5b || fail "--md5 differs between runs"
[ "$(wc -l < md5a)" = 30 ] || fail "--md5 printed $(wc -l < md5a) lines"
"$rq43" encode - stdin.avi < src.y4m 2>/dev/null
"$rq43" decode --md5 stdin.avi > md5c
cmp -s md5a md5c || fail "y4m from standard input encodes differently from the same file"
header_bytes=$(head -1 dec.y4m | wc -c)
tail -c +$((header_bytes + 7)) dec.y4m > pictures  # after the stream header and "FRAME\n"
first=$(head -c $((176 * 144 * 3 / 2)) pictures | md5sum | cut -d' ' -f1)
[ "$first" = "$(head -1 md5a | awk '{print $2}')" ] || fail "the first MD5 is not that of the first decoded picture"

# FFmpeg's framemd5 lines of the decoded pictures, as FFmpeg itself writes them for the same pictures;
# the MD5 of all pictures verifies, and a wrong one fails.
"$rq43" decode --framemd5 clip.avi > fm.rq43
ffmpeg -v error -i dec.y4m -f framemd5 - > fm.ffmpeg
diff fm.rq43 fm.ffmpeg >/dev/null || fail "framemd5 differs from FFmpeg's: $(diff fm.rq43 fm.ffmpeg | head -5)"
"$rq43" decode clip.avi all.yuv 2>/dev/null
expect_status 0 "$rq43" decode --verify "$(md5sum < all.yuv | cut -c1-32)" clip.avi
expect_status 1 "$rq43" decode --verify 0123456789abcdef0123456789abcdef clip.avi
grep -q "differs" out || fail "--verify: $(cat out)"

# Every core: runs cut at the requested key frames give the file of one instance byte for byte, and
# decoding in parallel gives the same pictures.
expect_status 0 "$rq43" encode --threads 1 --keyint 4 src.y4m one.avi
expect_status 0 "$rq43" encode --threads 3 --keyint 4 src.y4m three.avi
cmp -s one.avi three.avi || fail "--threads 3 differs from --threads 1"
"$rq43" decode --threads 1 --md5 one.avi > one.md5
"$rq43" decode --threads 3 --md5 one.avi > three.md5
cmp -s one.md5 three.md5 || fail "decoding with 3 instances differs"

# Sound is kept: copied where AVI takes its codec, else as PCM; --no-audio leaves it out.
ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25 -f lavfi -i sine=sample_rate=48000 -t 1 \
  -c:v ffv1 -c:a aac -y sound.mkv
expect_status 0 "$rq43" encode sound.mkv sound.avi
[ "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 sound.avi)" = aac ] ||
  fail "the sound was not copied: $(cat err)"
expect_status 0 "$rq43" encode --no-audio sound.mkv mute.avi
[ -z "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 mute.avi)" ] ||
  fail "--no-audio kept the sound"
# Decoding to a container keeps the sound packet for packet beside the pictures of the y4m decode,
# raw (mkv) or through FFV1 (mov).
"$rq43" decode sound.avi sound.y4m 2>/dev/null
hashes() { ffmpeg -v error -i "$1" -map "0:$2" -c:a copy -f framemd5 - | grep -v '^#' | awk -F', *' '{print $5, $6}'; }
for container in mkv mov; do
  expect_status 0 "$rq43" decode sound.avi "sound.$container"
  [ "$(hashes "sound.$container" v | cut -d' ' -f2)" = "$(hashes sound.y4m v | cut -d' ' -f2)" ] ||
    fail "decoding to .$container changed the pictures"
  [ "$(hashes "sound.$container" a)" = "$(hashes sound.avi a)" ] || fail "decoding to .$container changed the sound"
done
expect_status 0 "$rq43" decode --no-audio sound.avi mute.mkv
cp sound.avi self.avi
expect_status 2 "$rq43" decode self.avi self.avi
cmp -s self.avi sound.avi || fail "decoding a file onto itself changed it"
[ -z "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 mute.mkv)" ] ||
  fail "decode --no-audio kept the sound"
if ffmpeg -v error -f lavfi -i sine -t 0.5 -c:a libopus -y opus.mkv 2>/dev/null; then
  ffmpeg -v error -i sound.mkv -i opus.mkv -map 0:v -map 1:a -c:v copy -c:a copy -y opus-sound.mkv
  expect_status 0 "$rq43" encode opus-sound.mkv pcm.avi
  [ "$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 pcm.avi)" = pcm_s16le ] ||
    fail "a codec AVI does not take did not become PCM: $(cat err)"
fi

# An AVI that FFmpeg's own muxer rewrote (other chunk layout and indexes) decodes to the same pictures.
ffmpeg -v error -i clip.avi -c copy -y remuxed.avi
"$rq43" decode --md5 remuxed.avi > md5r
cmp -s md5a md5r || fail "the remuxed AVI decodes differently"

# Decoding to standard output feeds another tool.
"$rq43" decode clip.avi - 2>/dev/null | ffmpeg -v error -i - -f null - || fail "decode to standard output"
"$rq43" decode clip.avi - 2>/dev/null | cmp -s - dec.y4m || fail "y4m on standard output differs from the file"

# Raw and PNG outputs have the sizes their formats imply.
expect_status 0 "$rq43" decode --format uyvy clip.avi clip.uyvy
[ "$(stat -c %s clip.uyvy)" = $((176 * 144 * 2 * 30)) ] || fail "raw uyvy size"
expect_status 0 "$rq43" decode --format rgb32 clip.avi clip.rgb32
[ "$(stat -c %s clip.rgb32)" = $((176 * 144 * 4 * 30)) ] || fail "raw rgb32 size"
expect_status 0 "$rq43" decode clip.avi clip.yuv
[ "$(stat -c %s clip.yuv)" = $((176 * 144 * 3 / 2 * 30)) ] || fail "raw yuv size"
expect_status 0 "$rq43" decode low.avi "pic%03d.png"
[ -s pic000.png ] && [ -s pic029.png ] || fail "PNG sequence"
[ "$(ffprobe -v error -show_entries stream=width -of csv=p=0 pic000.png)" = 176 ] || fail "PNG width"

# Every input format the codec takes round-trips within the bound.
for format in rgb24 rgb32 yuy2 uyvy; do
  expect_status 0 "$rq43" encode --input-format "$format" src.y4m "$format.avi"
  grep -q "176x144 $format" err || fail "--input-format $format not used: $(cat err)"
  expect_status 0 "$rq43" decode "$format.avi" "$format.y4m"
  at_least "$(psnr_y "$format.y4m" src.y4m)" 30 || fail "$format input: PSNR $(psnr_y "$format.y4m" src.y4m)"
done

# Sizes that are not multiples of 16 are padded (the visible part stays) or cropped.
make_clip odd.mp4 170x130 10
expect_status 0 "$rq43" encode odd.mp4 odd.avi
grep -q "padding 170x130 to 176x144" err || fail "padding not reported: $(cat err)"
expect_status 0 "$rq43" decode odd.avi odd.y4m
ffmpeg -v error -i odd.y4m -vf crop=170:130:0:0 -pix_fmt yuv420p -y odd-visible.y4m
ffmpeg -v error -i odd.mp4 -pix_fmt yuv420p -y odd-source.y4m
at_least "$(psnr_y odd-visible.y4m odd-source.y4m)" 30 || fail "padded picture does not keep the source"
expect_status 0 "$rq43" encode --crop odd.mp4 cropped.avi
expect_status 0 "$rq43" info cropped.avi
grep -q "RQ43 160x128" out || fail "--crop: $(cat out)"

# A byte target per frame and a stream bit rate both steer the size.
expect_status 0 "$rq43" encode --bitrate 150 src.y4m rate.avi
kbps=$(sed -n 's/^bit rate *\([0-9.]*\).*/\1/p' <("$rq43" info rate.avi))
at_least "$kbps" 100 && at_least 200 "$kbps" || fail "--bitrate 150 gave $kbps kbit/s"
expect_status 0 "$rq43" encode --keyint 5 src.y4m key5.avi
expect_status 0 "$rq43" info key5.avi
grep -q "key frames  6" out || fail "--keyint 5 over 30 frames: $(cat out)"

# The built-in demo checks itself and leaves its two files.
expect_status 0 "$rq43" demo --frames 12 demo-out
grep -q "decoded frames equal the encoder's reconstruction" out || fail "demo: $(cat out)"
[ -s demo-out/demo.avi ] && [ -s demo-out/demo.png ] || fail "demo files missing"
[ "$(ffprobe -v error -show_entries stream=width -of csv=p=0 demo-out/demo.png)" = 640 ] || fail "demo picture is not side by side"

echo "cli round trip: all passed"
