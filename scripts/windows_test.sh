#!/usr/bin/env bash
# The Windows driver, proven in a video compression manager that is not ours: Wine's.
#
# Installs what it needs (mingw-w64, Wine, Xvfb and friends), cross-builds rq43.dll for 32- and 64-bit
# Windows, checks its imports and exports, installs it with windows/install.cmd into a fresh Wine prefix,
# and runs tests/windows/vcm_host.exe of each bitness under one Xvfb display: information, compression,
# decompression to RGB24 and RGB32, the sequence-compression helpers, an AVI file (read back by ffprobe),
# and the Configure and About dialogs (screenshots kept in build-windows/). The compressed frames and
# decoded pictures must equal, checksum for checksum, what the Linux build produces.
#
# Machines whose kernel cannot run 32-bit programs (tried with a tiny i386 program, never judged by what
# installs) still cross-build and inspect the 32-bit DLL, skip its runs under Wine with one SKIP line, and
# leave wine32:i386 uninstalled: there it would make the `wine` launcher pick a loader that cannot start.
# Every Wine step runs through the loader of its own bitness and under a time limit.
#
# Environment: RQ43_LINUX_BUILD (default build) is the Linux build folder to compare with;
# RQ43_KEEP_WINEPREFIX=1 keeps the Wine prefix (about 1.3 GB) after the run; RQ43_SKIP_WIN32=1 takes the
# path of a machine that cannot run 32-bit programs.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build-windows
linux_build=${RQ43_LINUX_BUILD:-$root/build}
results=$out/results.txt
started=$SECONDS

# ------------------------------------------------------------------------------------------ verdicts
passed=0 failed=0 skipped=0
pass() { echo "PASS $*"; passed=$((passed + 1)); }
fail() { echo "FAIL $*"; failed=$((failed + 1)); }
skip() { echo "SKIP $*"; skipped=$((skipped + 1)); }
check() { local name=$1; shift; if "$@"; then pass "$name"; else fail "$name"; return 1; fi; }
finish() {
  echo "windows: total time $((SECONDS - started)) s"
  ((skipped)) && echo "windows: $skipped checks skipped (see the SKIP lines above)"
  echo "windows: $passed passed, $failed failed"
  ((failed == 0 && passed > 0))
  exit $?
}

# Counts the host's verdict lines of one log into ours.
tally() {
  local log=$1
  [ -f "$log" ] || { fail "no log $(basename "$log")"; return; }
  passed=$((passed + $(grep -c '^PASS ' "$log")))
  failed=$((failed + $(grep -c '^FAIL ' "$log")))
  skipped=$((skipped + $(grep -c '^SKIP ' "$log")))
  grep -E '^(FAIL|SKIP|NOTE) ' "$log" || true
}

# ------------------------------------------------------------------------------------------- install
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
apt_get() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -y -qq "$@" >>"$out/apt.log" 2>&1
}
apt_install() {
  local missing=()
  for package in "$@"; do installed "$package" || missing+=("$package"); done
  ((${#missing[@]})) || return 0
  echo "windows: installing ${missing[*]}"
  apt_get install --no-install-recommends "${missing[@]}" ||
    { apt_get update && apt_get install --no-install-recommends "${missing[@]}"; }
}

mkdir -p "$out"
if ! apt_install g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine64 fonts-wine xvfb xauth \
     imagemagick xdotool ffmpeg cmake ninja-build g++; then
  fail "installing the cross compilers and Wine (see $out/apt.log)"
  finish
fi

# A static i386 program of 96 bytes that only exits with status 42. Prints why it did not, if it did not.
i386_probe_fails() {
  local probe=$out/i386-probe status=0 said
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08'\
'\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'\
'\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$probe" && chmod +x "$probe" || { echo "cannot write $probe"; return 0; }
  # Through bash: execvp would hand a file the kernel refuses to /bin/sh as a script.
  said=$(timeout 10 bash -c 'exec "$0"' "$probe" 2>&1) || status=$?
  ((status == 42)) && return 1
  said=$(head -1 <<<"$said")
  echo "${said##*: }"
}

# The loaders themselves: the `wine` launcher prefers the 32-bit one whenever it is installed.
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
have32=1
why32=""
if [ "${RQ43_SKIP_WIN32:-0}" = 1 ]; then
  have32=0
  why32="RQ43_SKIP_WIN32=1 was given"
elif probe_error=$(i386_probe_fails); then
  have32=0
  why32="this machine cannot run 32-bit programs (an i386 test program: ${probe_error:-exit status not 42})"
elif ! installed wine32:i386; then
  # Adding an architecture changes apt for the whole machine: only where 32-bit programs do run.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386 && apt_get update || true
  fi
  if ! apt_install wine32:i386; then
    have32=0
    why32="wine32:i386 could not be installed (see $out/apt.log)"
  fi
fi
if ((have32)) && ! timeout 60 "$wine32" --version >/dev/null 2>&1; then
  have32=0
  why32="Wine's 32-bit loader $wine32 does not start"
fi

# --------------------------------------------------------------------------------------------- build
# Both bitnesses are built and inspected everywhere; `arches` become those that also run under Wine.
declare -A bits=([x86_64]=64 [i686]=32)

build_dll() {
  local arch=$1 dir=$out/dll-$1
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DRQ43_BUILD_TESTS=OFF -DRQ43_BUILD_TOOLS=OFF -DRQ43_BUILD_BENCH=OFF \
    >"$dir.log" 2>&1 && cmake --build "$dir" -j "$(nproc)" >>"$dir.log" 2>&1
}

# Imports only from the system, exports DriverProc alone, and carries both dialogs and a version.
check_module() {
  local arch=$1 dll=$out/dll-$1/rq43.dll dump
  dump=$("$arch-w64-mingw32-objdump" -p "$dll") || return 1
  local imports exports
  imports=$(grep 'DLL Name:' <<<"$dump" | awk '{print toupper($3)}' | sort -u | tr '\n' ' ')
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | sed 1d | grep -o '\] .*' | cut -c3- |
    tr '\n' ' ')
  local extra
  extra=$(tr ' ' '\n' <<<"$imports" | grep -v -E '^(ADVAPI32|COMCTL32|KERNEL32|MSVCRT|USER32|WINMM)\.DLL$|^$' || true)
  if [ -n "$extra" ]; then echo "  $arch imports $imports"; return 1; fi
  if [ "$exports" != "DriverProc " ]; then echo "  $arch exports: $exports"; return 1; fi
  local resources
  resources=$("$arch-w64-mingw32-windres" -i "$dll" -J coff -O rc 2>/dev/null)
  grep -q '^101 DIALOG 0, 0, 300, 113' <<<"$resources" && grep -q '^102 DIALOG 0, 0, 186, 73' <<<"$resources" &&
    grep -q 'VERSIONINFO' <<<"$resources" || { echo "  $arch: dialog templates or version missing"; return 1; }
}

build_host() {
  local arch=$1
  "$arch-w64-mingw32-g++" -std=c++20 -O2 -Wall -Wextra -static -static-libgcc -static-libstdc++ \
    -o "$out/vcm_host_$arch.exe" "$root/tests/windows/vcm_host.cpp" -lvfw32 -lcomctl32 >"$out/host-$arch.log" 2>&1
}

built=()
for arch in x86_64 i686; do
  rm -f "$out/dll-$arch/rq43.dll" "$out/vcm_host_$arch.exe"
  b=${bits[$arch]}
  check "$b-bit rq43.dll cross-builds" build_dll "$arch" &&
    check "$b-bit rq43.dll imports only system DLLs and exports only DriverProc" check_module "$arch"
  check "$b-bit host builds against the platform's own headers" build_host "$arch"
  [ -f "$out/dll-$arch/rq43.dll" ] && [ -f "$out/vcm_host_$arch.exe" ] && built+=("$arch")
done
dll_arches=()
arches=()
for arch in "${built[@]}"; do
  dll_arches+=("$arch")
  [ "$arch" = x86_64 ] || ((have32)) && arches+=("$arch")
done
((have32)) || skip "32-bit runs under Wine (codec, sequence, AVI file, dialogs, platform checks): $why32"

# The Linux build's frames for the same pictures and settings.
reference=$out/linux-frames.txt
have_reference=0
build_reference() {
  { [ -f "$linux_build/build.ninja" ] || cmake -S "$root" -B "$linux_build" -G Ninja >/dev/null; } &&
    cmake --build "$linux_build" --target rq43 -j "$(nproc)" >"$out/linux.log" 2>&1 &&
    g++ -std=c++20 -O2 -I"$root" -I"$root/src" -I"$root/tests/windows" -o "$out/linux_reference" \
      "$root/tests/windows/linux_reference.cpp" "$root/host/codec_host.cpp" -ldl >>"$out/linux.log" 2>&1
}
if check "Linux reference builds" build_reference; then
  # An empty settings store: every option at its default, as in the fresh Wine prefix.
  : >"$out/linux-registry.txt"
  RQ43_REGISTRY_FILE=$out/linux-registry.txt "$out/linux_reference" "$linux_build/librq43.so" "$reference"
  case $? in
    0) have_reference=1 ;;
    3) skip "byte equality with the Linux build: this build has no compression sequence yet" ;;
    *) fail "Linux reference run" ;;
  esac
fi

# ---------------------------------------------------------------------------------------------- wine
# Everything that touches Wine runs under one display: a wineserver started without one would keep
# every later program on the null display driver.
wine_phase() {
  export WINEPREFIX=$out/wineprefix WINEARCH=win64 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  rm -rf "$WINEPREFIX"
  local verdicts=$out/wine-verdicts.txt
  : >"$verdicts"
  say() { echo "$*" | tee -a "$verdicts"; }
  # Each bitness through its own loader; everything else through the 64-bit one.
  declare -A loader=([x86_64]=$wine64 [i686]=$wine32)
  if ! timeout 180 "$wine64" wineboot -i >"$out/wineboot.log" 2>&1 || ! timeout 120 wineserver -w; then
    say "FAIL creating the Wine prefix (see $out/wineboot.log)"
    return
  fi

  # The package a user unpacks: install.cmd beside x86\ and x64\.
  local package=$out/package
  rm -rf "$package" && mkdir -p "$package"
  cp "$root/windows/install.cmd" "$package/"
  for arch in "${dll_arches[@]}"; do
    local folder=x64; [ "$arch" = i686 ] && folder=x86
    mkdir -p "$package/$folder" && cp "$out/dll-$arch/rq43.dll" "$package/$folder/"
  done
  if timeout 60 "$wine64" cmd /c "Z:${package//\//\\}\\install.cmd" >"$out/install.log" 2>&1; then
    say "PASS install.cmd installs the driver"
  else
    say "FAIL install.cmd (see $out/install.log)"
  fi
  local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
  for arch in "${dll_arches[@]}"; do
    local view=/reg:${bits[$arch]}
    if timeout 30 "$wine64" reg query "$key" /v vidc.RQ43 "$view" 2>/dev/null | grep -qi 'rq43.dll'; then
      say "PASS ${bits[$arch]}-bit Drivers32 value vidc.RQ43"
    else
      say "FAIL ${bits[$arch]}-bit Drivers32 value vidc.RQ43 missing"
    fi
  done

  # Takes a screenshot whenever the host says a dialog is up.
  photographer() {
    local dir=$1
    while :; do
      for ready in "$dir"/*.ready; do
        [ -e "$ready" ] || continue
        local name=${ready%.ready} x y w h
        read -r x y w h <"$ready" || true
        if [ -n "${h:-}" ] && ((w > 0 && h > 0)); then
          import -window root -crop "${w}x${h}+${x}+${y}" +repage "$name.png" >/dev/null 2>&1
        else
          import -window root "$name.png" >/dev/null 2>&1
        fi
        rm -f "$ready"
        : >"$name.shot"
      done
      sleep 0.2
    done
  }

  for arch in "${arches[@]}"; do
    local dir=$out/wine-${bits[$arch]}
    rm -rf "$dir" && mkdir -p "$dir"
    local host=$out/vcm_host_$arch.exe wine=${loader[$arch]}
    # The debugger channel is traced so the decoder's timing lines can be seen.
    WINEDEBUG=-all,+debugstr timeout 300 "$wine" "$host" codec "Z:$dir" >"$dir/codec.out" 2>"$dir/codec.err"
    photographer "$dir" &
    local watcher=$!
    timeout 120 "$wine" explorer /desktop=rq43,640x480 "$host" configure "Z:$dir" >"$dir/configure.out" 2>&1
    timeout 120 "$wine" explorer /desktop=rq43,640x480 "$host" about "Z:$dir" >"$dir/about.out" 2>&1
    kill "$watcher" 2>/dev/null
    wait "$watcher" 2>/dev/null
    # Last, as it clears the settings key: the platform layer's own checks.
    WINEDEBUG=-all,+debugstr timeout 120 "$wine" "$out/dll-$arch/rq43_platform_check.exe" >"$dir/platform.log" \
      2>"$dir/platform.err"
  done
  # And out again: no Drivers32 value left in either view.
  timeout 60 "$wine64" cmd /c "Z:${package//\//\\}\\install.cmd" /u >>"$out/install.log" 2>&1
  for arch in "${dll_arches[@]}"; do
    if timeout 30 "$wine64" reg query "$key" /v vidc.RQ43 "/reg:${bits[$arch]}" >/dev/null 2>&1; then
      say "FAIL ${bits[$arch]}-bit install.cmd /u leaves vidc.RQ43 behind"
    else
      say "PASS ${bits[$arch]}-bit install.cmd /u removes vidc.RQ43"
    fi
  done
  timeout 60 wineserver -k 2>/dev/null || true
}

if command -v xvfb-run >/dev/null; then
  export -f wine_phase
  export out root wine64 wine32
  # xvfb-run starts a private X server; the phase runs as a child shell with the same variables. Its
  # steps have their own limits; this one only stops a phase that hangs between them.
  timeout -k 30 2400 xvfb-run -a -s "-screen 0 640x480x24" bash -c "
    set -uo pipefail
    arches=(${arches[*]})
    dll_arches=(${dll_arches[*]})
    declare -A bits=([x86_64]=64 [i686]=32)
    $(declare -f wine_phase)
    wine_phase" >"$out/wine-phase.log" 2>&1
  tally "$out/wine-verdicts.txt"
else
  fail "xvfb-run is missing"
fi

# ------------------------------------------------------------------------------------------- results
equal_lines() {  # the lines of $1 matching $3 equal those of $2
  diff <(grep -E "$3" "$1") <(grep -E "$3" "$2") >/dev/null
}
avi_ok() {
  local field
  for field in codec_tag_string=RQ43 width=176 height=144 nb_read_packets=10; do
    grep -qx "$field" <<<"$1" || { echo "  ffprobe: $(tr '\n' ' ' <<<"$1")"; return 1; }
  done
}

# A PNG that shows something: more than a handful of colours.
real_picture() {
  [ -s "$1" ] && [ "$(convert "$1" -format '%k' info: 2>/dev/null || echo 0)" -gt 4 ]
}

for arch in "${arches[@]}"; do
  b=${bits[$arch]}
  dir=$out/wine-$b
  for part in codec configure about platform; do tally "$dir/$part.log"; done
  for shot in configure configure-stored about; do
    check "$b-bit screenshot $shot.png" real_picture "$dir/$shot.png"
  done
  check "$b-bit debug text reaches OutputDebugStringA" grep -q 'OutputDebugStringA "one' "$dir/platform.err"
  if [ -f "$dir/frames.txt" ]; then
    check "$b-bit decoder timing lines on the debugger channel" \
      grep -qE 'OutputDebugStringA " *tDecTokensTotal : [0-9]+\.[0-9]{4}' "$dir/codec.err"
  fi
  if ((have_reference)) && [ -f "$dir/frames.txt" ]; then
    check "$b-bit compressed frames equal the Linux build's" equal_lines "$dir/frames.txt" "$reference" '^(key|delta) '
    check "$b-bit RGB24 pictures equal the Linux build's" equal_lines "$dir/frames.txt" "$reference" '^rgb24 '
    check "$b-bit RGB32 pictures equal the Linux build's" equal_lines "$dir/frames.txt" "$reference" '^rgb32 '
  fi
  if [ -f "$dir/rq43.avi" ]; then
    probe=$(ffprobe -v error -count_packets -select_streams v:0 \
      -show_entries stream=codec_tag_string,width,height,nb_read_packets -of default=nw=1 "$dir/rq43.avi" 2>&1)
    check "$b-bit AVI reads back with ffprobe (RQ43, 176x144, 10 frames)" avi_ok "$probe"
  fi
done
# Frames the manager's helpers made (their parameters are the manager's): equal across bitnesses.
if ((${#arches[@]} == 2)) && [ -f "$out/wine-64/sequence.txt" ]; then
  check "32-bit and 64-bit ICSeqCompressFrame frames are equal" cmp -s "$out/wine-32/sequence.txt" "$out/wine-64/sequence.txt"
  check "32-bit and 64-bit AVI frames are equal" cmp -s "$out/wine-32/avi.txt" "$out/wine-64/avi.txt"
fi

[ "${RQ43_KEEP_WINEPREFIX:-0}" = 1 ] || rm -rf "$out/wineprefix"
finish
