#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan), makes seed corpora
# (the library's own writers and, where installed, ImageMagick, ffmpeg and
# sox) and runs every target for SECONDS seconds (default 60), JOBS targets at
# a time (default 1), then reports the executions, coverage and findings of
# each. Exits 1 when any target found something (its inputs are kept under
# build-fuzz/work/findings/TARGET/; units libFuzzer merely notes as slow
# are kept there too but are no finding).
# With FUZZ_FORK=1 each target runs in libFuzzer's fork mode and goes on
# after a finding for the whole time (for long runs).
# Usage: scripts/fuzz.sh [-j JOBS] [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=1
if [ "${1:-}" = "-j" ]; then jobs=$2; shift 2; fi
seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j "$(( $(nproc) < 4 ? $(nproc) : 4 ))" >/dev/null

work=build-fuzz/work
seeds=$work/seeds
rm -rf "$seeds"
kinds=(kwb flc gif avi tga pcx bmp sgi ras pnm bay tif jpg png xpm wexel still probe uni riff ogg mpeg acm api)
for k in "${kinds[@]}"; do mkdir -p "$seeds/$k"; done
mkdir -p "$seeds/peer-wav"
build-fuzz/bin/make_seeds "$seeds"

quiet() { "$@" >/dev/null 2>&1 || true; }
if command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick; then
  g="$seeds/gif"
  quiet convert -size 12x9 xc:red -page +2+1 -size 5x4 xc:blue -loop 0 "$g/anim.gif"
  quiet convert -size 16x8 xc: +noise Random -interlace GIF "$g/noise.gif"
  src=(-size 11x6 gradient:red-blue)
  quiet convert "${src[@]}" "$seeds/bmp/im.bmp"
  quiet convert "${src[@]}" -compress RLE -type Palette "BMP3:$seeds/bmp/im-rle8.bmp"
  quiet convert "${src[@]}" -type Palette "BMP3:$seeds/bmp/im-pal.bmp"
  quiet convert "${src[@]}" -alpha set "$seeds/bmp/im-alpha.bmp"
  quiet convert "${src[@]}" "$seeds/tga/im.tga"
  quiet convert "${src[@]}" -compress RLE "$seeds/tga/im-rle.tga"
  quiet convert "${src[@]}" -type Palette "$seeds/tga/im-pal.tga"
  quiet convert "${src[@]}" "$seeds/pcx/im.pcx"
  quiet convert "${src[@]}" -type Palette "$seeds/pcx/im-pal.pcx"
  quiet convert "${src[@]}" "$seeds/sgi/im.sgi"
  quiet convert "${src[@]}" -compress RLE "$seeds/sgi/im-rle.sgi"
  quiet convert "${src[@]}" "SUN:$seeds/ras/im.ras"
  quiet convert "${src[@]}" -type Palette "SUN:$seeds/ras/im-pal.ras"
  quiet convert "${src[@]}" -compress None "$seeds/pnm/im-plain.ppm"
  quiet convert "${src[@]}" "$seeds/pnm/im.ppm"
  quiet convert "${src[@]}" -colorspace Gray "$seeds/pnm/im.pgm"
  quiet convert "${src[@]}" -depth 16 "$seeds/pnm/im16.ppm"
  quiet convert "${src[@]}" -monochrome "$seeds/pnm/im.pbm"
  quiet convert "${src[@]}" "$seeds/tif/im.tif"
  quiet convert "${src[@]}" -depth 16 "$seeds/tif/im16.tif"
  quiet convert "${src[@]}" -colorspace CMYK "$seeds/tif/im-cmyk.tif"
  quiet convert "${src[@]}" -define tiff:tile-geometry=8x8 "$seeds/tif/im-tiled.tif"
  quiet convert "${src[@]}" -interlace Plane "$seeds/tif/im-planar.tif"
  quiet convert "${src[@]}" "$seeds/png/im.png"
  quiet convert "${src[@]}" -depth 16 -alpha set "$seeds/png/im16a.png"
  quiet convert "${src[@]}" -interlace PNG -type Palette "$seeds/png/im-adam7.png"
  quiet convert "${src[@]}" -colorspace Gray "$seeds/png/im-grey.png"
  quiet convert "${src[@]}" "$seeds/jpg/im.jpg"
  quiet convert "${src[@]}" -interlace JPEG "$seeds/jpg/im-progressive.jpg"
  quiet convert "${src[@]}" -colorspace Gray "$seeds/jpg/im-grey.jpg"
  quiet convert "${src[@]}" -colorspace CMYK "$seeds/jpg/im-cmyk.jpg"
  quiet convert "${src[@]}" "$seeds/xpm/im.xpm"
fi
if command -v ffmpeg >/dev/null; then
  ff() { quiet ffmpeg -nostdin -loglevel error -y "$@"; }
  v=(-f lavfi -i testsrc=size=32x24:rate=25:duration=0.2)
  a=(-f lavfi -i sine=frequency=440:sample_rate=22050:duration=0.1)
  ff "${v[@]}" -c:v mpeg1video "$seeds/mpeg/v.m1v"
  ff "${v[@]}" -c:v mpeg2video -g 3 -bf 1 "$seeds/mpeg/v.m2v"
  ff "${v[@]}" "${a[@]}" -c:v mpeg1video -c:a mp2 -f mpeg "$seeds/mpeg/sys.mpg"
  ff "${a[@]}" -c:a mp2 "$seeds/mpeg/a.mp2"
  ff "${a[@]}" -c:a libmp3lame "$seeds/mpeg/a.mp3"
  ff "${v[@]}" -c:v mjpeg "$seeds/riff/v.avi"
  ff "${v[@]}" "${a[@]}" -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "$seeds/riff/va.avi"
  ff "${a[@]}" -c:a libvorbis "$seeds/ogg/ff.ogg"
  for c in pcm_s16le pcm_u8 pcm_f32le pcm_alaw pcm_mulaw adpcm_ms adpcm_ima_wav adpcm_yamaha gsm_ms; do
    ff "${a[@]}" -ar 8000 -c:a "$c" "$seeds/peer-wav/$c.wav"
  done
  ff "${a[@]}" -c:a mp2 "$seeds/peer-wav/mp2.wav"
  ff "${a[@]}" -c:a libmp3lame "$seeds/peer-wav/mp3.wav"
fi
if command -v sox >/dev/null; then
  quiet sox -n -r 8000 -c 2 -e ima-adpcm "$seeds/peer-wav/sox-ima.wav" synth 0.1 sine 300
  quiet sox -n -r 8000 -c 1 -e ms-adpcm "$seeds/peer-wav/sox-ms.wav" synth 0.1 sine 300
  quiet sox -n -r 11025 -c 2 -b 8 "$seeds/peer-wav/sox-u8.wav" synth 0.1 sine 300
fi
cp "$seeds"/peer-wav/*.wav "$seeds/riff/" 2>/dev/null || true
build-fuzz/bin/make_seeds acm "$seeds/acm" "$seeds"/peer-wav/*.wav
# The codec layer's target: a selector byte (even JPEG, odd XPM) before the file.
for f in "$seeds"/jpg/*; do { printf '\000'; cat "$f"; } >"$seeds/wexel/$(basename "$f")"; done
for f in "$seeds"/xpm/*; do { printf '\001'; cat "$f"; } >"$seeds/wexel/$(basename "$f")"; done
# The dispatch target: the selector byte of fuzz_still.cpp before the file.
sel=0
for k in tga pcx bmp sgi ras pnm; do
  for f in "$seeds/$k"/*; do
    { printf "\\$(printf %03o $sel)"; cat "$f"; } >"$seeds/still/$k-$(basename "$f")"
  done
  sel=$((sel + 1))
done
# Probing: every still and frame file under a name that says nothing.
for k in tga pcx bmp sgi ras pnm gif flc kwb tif jpg png xpm; do
  for f in "$seeds/$k"/*; do cp "$f" "$seeds/probe/$k-$(basename "$f")"; done
done
# The universal source layer: selector byte (GIF, FLIC, KWB, probing) first.
sel=0
for k in gif flc kwb; do
  for f in "$seeds/$k"/*; do
    { printf "\\$(printf %03o $sel)"; cat "$f"; } >"$seeds/uni/$k-$(basename "$f")"
  done
  sel=$((sel + 1))
done
for f in "$seeds"/tga/* "$seeds"/bmp/* "$seeds"/pnm/*; do
  { printf '\003'; cat "$f"; } >"$seeds/uni/probe-$(basename "$f")"
done
# Bayer: size selector, trailer, samples.
{ printf '\000ML BAY 2\000\001\000\000\003'; head -c 4000 /dev/urandom; } >"$seeds/bay/small-colour"
{ printf '\001EK BAY 2\000\002\000\000\002'; head -c 4000 /dev/urandom; } >"$seeds/bay/large-mono"
{ printf '\002000000000000'; head -c 4000 /dev/urandom; } >"$seeds/bay/plain"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/bin/fuzz_*; do targets+=("$(basename "$t")"); done
fi

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
start=$work/.start
mkdir -p "$work"
touch "$start"

run_one() {
  local t=$1 kind=${1#fuzz_}
  local corpus="$work/corpus/$kind" dict=fuzz/dict/$kind.dict max_len=65536
  [ "$kind" = bay ] && max_len=310000
  [ "$kind" = api ] && max_len=4096
  mkdir -p "$corpus" "$work/findings/$kind"
  local args=(-max_total_time="$seconds" -rss_limit_mb=2560 -max_len="$max_len" -timeout=25
              -artifact_prefix="$work/findings/$kind/" -print_final_stats=1)
  [ -f "$dict" ] && args+=(-dict="$dict")
  [ "${FUZZ_FORK:-0}" = 1 ] && args+=(-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1)
  "build-fuzz/bin/$t" "${args[@]}" "$corpus" "$seeds/$kind" >"$work/$t.log" 2>&1 || true
}

running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
  run_one "$t" &
  running=$((running + 1))
done
wait

status=0
passed=0
failed=0
printf '%-12s %8s %12s %8s %8s %8s %s\n' target seconds execs cov ft corpus findings
for t in "${targets[@]}"; do
  kind=${t#fuzz_}
  log="$work/$t.log"
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  # fork mode: "#EXECS: cov: ..." lines
  [ -n "$execs" ] || execs=$(grep -o '^#[0-9]*: cov' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
  corp=$(find "$work/corpus/$kind" -type f | wc -l)
  found=$(find "$work/findings/$kind" -type f -newer "$start" ! -name 'slow-unit-*' | wc -l)
  if [ "$found" -gt 0 ] || ! grep -q 'Done [0-9]* runs\|fuzzing finished\|exiting: [0-9]* time' "$log"; then
    status=1
    [ "$found" -gt 0 ] || found="died"
  fi
  printf '%-12s %8s %12s %8s %8s %8s %s\n' "$t" "$seconds" "$execs" "$cov" "$ft" "$corp" "$found"
  if [ "$found" = 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
if [ "$failed" -gt 0 ]; then
  echo "Findings are in $work/findings/; the logs in $work/fuzz_*.log"
  for t in "${targets[@]}"; do
    kind=${t#fuzz_}
    if [ -n "$(find "$work/findings/$kind" -type f -newer "$start" ! -name 'slow-unit-*')" ] ||
       ! grep -q 'Done [0-9]* runs\|fuzzing finished\|exiting: [0-9]* time' "$work/$t.log"; then
      echo "--- $t"
      grep -m1 -A12 'ERROR:\|==qorfuzz==\|runtime error\|deadly signal\|timeout' "$work/$t.log" || tail -20 "$work/$t.log"
    fi
  done
fi
echo "fuzz: $passed passed, $failed failed"
exit $status
