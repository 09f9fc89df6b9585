#!/usr/bin/env bash
# Measures the library against the tools its users would otherwise pick
# (ImageMagick, libvips, ffmpeg, pngquant), on the same inputs in the same
# run, and prints one table of times, ratios and peak memory.
#
#   scripts/bench.sh [--quick]
#
# Builds the library in release mode into build-bench/ (its own folder),
# makes the inputs there (a photograph from a Debian wallpaper package and
# synthetic pictures of 1, 12 and 25 megapixels) and runs every row.
# Every figure is the wall time of a whole process (start, read, work,
# write) and its peak resident memory; "op" is the library's own time for
# the operation alone, measured inside the driver. The peers run once with
# one thread (MAGICK_THREAD_LIMIT=1, VIPS_CONCURRENCY=1, -threads 1) and
# once with their default threads; the library works on the caller's thread,
# its movie codecs with FFmpeg's own threads unless QOR_THREADS=1 (the movie
# rows measure both). --quick uses the 1-megapixel picture and a small photo crop only
# (a smoke check of the script, not a measurement).
# Environment: QOR_BENCH_REPS (best of N whole processes, default 1; each
# process does the operation once, as each peer does); QOR_BENCH_OP_REPS
# (the driver's own repetitions for the "op" column, best of N inside one
# extra process that is not timed as a whole; default: the op of the best
# whole process); QOR_THREADS (the library's codec threads, see README.md);
# QOR_BENCH_ONLY (space-separated sections to run: depth resize palette
# filters codecs pipeline movie; default all).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build-bench"
DATA="$BUILD/bench-data"
OUT="$BUILD/bench-out"
RESULTS="$BUILD/bench-results.tsv"
REPS="${QOR_BENCH_REPS:-1}"
OP_REPS="${QOR_BENCH_OP_REPS:-}"
unset QOR_BENCH_OP_REPS
QUICK=0
[ "${1:-}" = "--quick" ] && QUICK=1

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQOR_BUILD_TESTS=OFF \
  -DQOR_BENCH=ON >/dev/null
cmake --build "$BUILD" -j4 --target qor_bench qor_still >/dev/null
QB="$BUILD/bin/qor_bench"
QS="$BUILD/bin/qor_still"

have() { command -v "$1" >/dev/null 2>&1; }
section() {
  [ -z "${QOR_BENCH_ONLY:-}" ] && return 0
  [[ " $QOR_BENCH_ONLY " == *" $1 "* ]]
}
for tool in convert compare vips ffmpeg; do
  have "$tool" || echo "note: $tool not found, its columns stay empty" >&2
done
if [ ! -x /usr/bin/time ]; then
  echo "bench.sh needs /usr/bin/time (Debian package time)" >&2
  exit 1
fi

mkdir -p "$DATA" "$OUT"
: >"$RESULTS"

# ---- measuring ---------------------------------------------------------------

# run ROW TOOL CMD...: best wall time of REPS runs and the peak memory of the
# best run; for the library also the driver's op_ms (with QOR_BENCH_OP_REPS,
# the best of that many operations in one more process). Failures are
# recorded as such and do not stop the run.
run() {
  local row="$1" tool="$2"
  shift 2
  local best="" mem="" op="" i log="$OUT/last.log"
  for ((i = 0; i < REPS; i++)); do
    local t0 t1 ms
    t0=$(date +%s%N)
    if ! /usr/bin/time -f 'maxrss_kb=%M' -o "$OUT/time.txt" "$@" >"$log" 2>&1; then
      printf '%s\t%s\tfail\t\t\t\n' "$row" "$tool" >>"$RESULTS"
      echo "  $tool failed on '$row': $(tail -n 2 "$log" | tr '\n' ' ')" >&2
      return 0
    fi
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then
      best=$ms
      mem=$(sed -n 's/^maxrss_kb=//p' "$OUT/time.txt")
      op=$(sed -n 's/^op_ms=//p' "$log" | tail -n 1)
    fi
  done
  if [ -n "$OP_REPS" ] && [ -n "$op" ] &&
    QOR_BENCH_OP_REPS="$OP_REPS" "$@" >"$log" 2>&1; then
    op=$(sed -n 's/^op_ms=//p' "$log" | tail -n 1)
  fi
  printf '%s\t%s\t%s\t%s\t%s\t\n' "$row" "$tool" "$best" "$mem" "$op" >>"$RESULTS"
}

# psnr ROW TOOL ORIGINAL RESULT: PSNR of a result against its original,
# attached to the row's last entry for that tool.
psnr() {
  local row="$1" tool="$2" value
  have compare || return 0
  value=$(compare -metric PSNR "$3" "$4" null: 2>&1 >/dev/null | awk '{print $1}') || true
  printf '%s\t%s\tpsnr\t\t\t%s\n' "$row" "$tool" "$value" >>"$RESULTS"
}

# peer_threads ROW LABEL ONE_THREAD_SETTING TOOL ARGS...: one peer command
# with one thread and with the tool's default threads.
peer_threads() {
  local row="$1" label="$2" single="$3" tool="$4"
  shift 4
  have "$tool" || return 0
  run "$row" "$label-1t" env "$single" "$tool" "$@"
  run "$row" "$label-all" "$tool" "$@"
}
peer_im() { peer_threads "$1" IM MAGICK_THREAD_LIMIT=1 convert "${@:2}"; }
peer_vips() { peer_threads "$1" vips VIPS_CONCURRENCY=1 vips "${@:2}"; }
# ffmpeg: the thread option goes before the input and after it.
peer_ff() {
  local row="$1" in="$2"
  shift 2
  have ffmpeg || return 0
  run "$row" "ffmpeg-1t" ffmpeg -nostdin -v error -y -threads 1 -i "$in" -threads 1 "$@"
  run "$row" "ffmpeg-all" ffmpeg -nostdin -v error -y -i "$in" "$@"
}
peer_ff_raw() {  # ffmpeg reading bare pixels
  local row="$1" fmt="$2" size="$3" in="$4"
  shift 4
  have ffmpeg || return 0
  run "$row" "ffmpeg-1t" ffmpeg -nostdin -v error -y -threads 1 -f rawvideo -pix_fmt "$fmt" \
    -s "$size" -i "$in" -threads 1 "$@"
  run "$row" "ffmpeg-all" ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt "$fmt" -s "$size" \
    -i "$in" "$@"
}

# ---- inputs ------------------------------------------------------------------

echo "making inputs in $DATA" >&2
PHOTO_SRC=/usr/share/backgrounds/Dragonfly_by_Bolly.jpg
if [ ! -f "$PHOTO_SRC" ]; then
  PHOTO_SRC=$(ls /usr/share/backgrounds/*.jpg 2>/dev/null | head -n 1 || true)
fi
if [ -z "$PHOTO_SRC" ] || ! have convert; then
  echo "bench.sh needs the wallpaper package (lomiri-wallpapers-16.04) and ImageMagick" >&2
  exit 1
fi
if [ "$QUICK" = 1 ]; then
  convert "$PHOTO_SRC" -crop 1024x768+0+0 +repage "$DATA/photo.ppm"
  SYNTH=(1)
else
  convert "$PHOTO_SRC" "$DATA/photo.ppm"
  SYNTH=(1 12 25)
fi
declare -A DIMS=([1]="1000 1000" [12]="4000 3000" [25]="5000 5000")
for mp in "${SYNTH[@]}"; do
  [ -f "$DATA/syn$mp.ppm" ] || "$QB" gen ${DIMS[$mp]} "$DATA/syn$mp.ppm"
done
read -r PW PH < <(head -c 64 "$DATA/photo.ppm" | sed -n 2p)
convert "$DATA/photo.ppm" -define png:compression-level=6 "$DATA/photo.png"
for mp in "${SYNTH[@]}"; do
  convert "$DATA/syn$mp.ppm" -define png:compression-level=6 "$DATA/syn$mp.png"
done

# What an empty run costs: start-up time and the memory the process has
# before it holds any picture (the static driver links everything, Qt
# included; the peers their own).
convert -size 1x1 xc:gray "$DATA/tiny.ppm"
run "process floor (1x1 picture)" ours "$QB" decode "$DATA/tiny.ppm"
peer_im "process floor (1x1 picture)" "$DATA/tiny.ppm" null:
peer_vips "process floor (1x1 picture)" avg "$DATA/tiny.ppm"
peer_ff "process floor (1x1 picture)" "$DATA/tiny.ppm" -f null -

# Start-up of a host converting one small still through the shared library
# (qor_still links it as any host would; the movie, sound and window back
# ends stay unloaded). Each row is a whole process, read to write.
convert -size 1x1 xc:gray "$DATA/tiny.png"
convert -size 64x64 gradient:red-blue "$DATA/small.tga"
row="start-up 1x1 PNG -> BMP"
run "$row" ours "$QS" "$DATA/tiny.png" "$OUT/tiny.bmp"
peer_im "$row" "$DATA/tiny.png" "$OUT/tiny-im.bmp"
peer_vips "$row" copy "$DATA/tiny.png" "$OUT/tiny-vips.bmp"
row="start-up 64x64 TGA -> PNG"
run "$row" ours "$QS" "$DATA/small.tga" "$OUT/small.png"
peer_im "$row" "$DATA/small.tga" "$OUT/small-im.png"
peer_vips "$row" copy "$DATA/small.tga" "$OUT/small-vips.png"

# ---- depth conversions -------------------------------------------------------

if section depth; then

echo "depth conversions" >&2
for mp in "${SYNTH[@]}"; do
  read -r W H <<<"${DIMS[$mp]}"
  in="$DATA/syn$mp.ppm"
  "$QB" conv "$in" "$DATA/syn$mp.15.raw" 15 >/dev/null
  "$QB" conv "$in" "$DATA/syn$mp.16.raw" 16 >/dev/null
  "$QB" conv "$in" "$DATA/syn$mp.32.raw" 32 >/dev/null
  "$QB" conv "$in" "$DATA/syn$mp.24.raw" 24 >/dev/null
  for to in 15 16 32; do
    case $to in 15) fmt=rgb555le ;; 16) fmt=rgb565le ;; 32) fmt=bgr0 ;; esac
    row="depth 24->$to ${mp}MP"
    run "$row" ours "$QB" conv "$DATA/syn$mp.24.raw:${W}x${H}x24" "$OUT/d.raw" "$to"
    peer_ff_raw "$row" bgr24 "${W}x${H}" "$DATA/syn$mp.24.raw" -pix_fmt "$fmt" -f rawvideo "$OUT/d.raw"
    row="depth $to->24 ${mp}MP"
    run "$row" ours "$QB" conv "$DATA/syn$mp.$to.raw:${W}x${H}x$to" "$OUT/d.raw" 24
    peer_ff_raw "$row" "$fmt" "${W}x${H}" "$DATA/syn$mp.$to.raw" -pix_fmt bgr24 -f rawvideo "$OUT/d.raw"
  done
done
fi

# ---- resize and resample -------------------------------------------------------

if section resize; then

echo "resize and resample" >&2
for name in "${SYNTH[@]/#/syn}" photo; do
  in="$DATA/$name.ppm"
  read -r W H < <(head -c 64 "$in" | sed -n 2p)
  for f in half double; do
    [ "$f" = double ] && [ "$name" = syn25 ] && continue
    if [ "$f" = half ]; then NW=$((W / 2)); NH=$((H / 2)); S=0.5; P=50%; else NW=$((W * 2)); NH=$((H * 2)); S=2; P=200%; fi
    row="resize (nearest) $f $name"
    run "$row" ours "$QB" resize "$in" "$OUT/r.ppm" "$NW" "$NH"
    peer_im "$row" "$in" -sample "${NW}x${NH}!" "$OUT/r.ppm"
    peer_vips "$row" resize "$in" "$OUT/r.ppm" "$S" --kernel nearest
    peer_ff "$row" "$in" -vf "scale=$NW:$NH:flags=neighbor" "$OUT/r.ppm"
    row="resample (smooth) $f $name"
    run "$row" ours "$QB" resample "$in" "$OUT/r.ppm" "$NW" "$NH"
    peer_im "$row" "$in" -resize "${NW}x${NH}!" "$OUT/r.ppm"
    peer_vips "$row" resize "$in" "$OUT/r.ppm" "$S"
    peer_ff "$row" "$in" -vf "scale=$NW:$NH:flags=bilinear" "$OUT/r.ppm"
  done
done
fi

# ---- palette optimisation --------------------------------------------------------

if section palette; then

echo "palette optimisation" >&2
# Beside the photo, two pictures of mostly unique colours, which split well
# only when every pixel weighs alike: a small four-corner gradient and a
# plasma.
convert -size 97x61 xc: -sparse-color Bilinear '0,0 navy 96,0 pink 0,60 yellow 96,60 teal' \
  -depth 8 "$DATA/gradient.ppm"
convert -seed 7 -size 320x240 plasma: -depth 8 "$DATA/plasma.ppm"
for name in gradient plasma; do
  convert "$DATA/$name.ppm" -define png:compression-level=6 "$DATA/$name.png"
done
for name in photo gradient plasma "syn${SYNTH[-1]}"; do
  in="$DATA/$name.ppm"
  for mode in none light heavy; do
    row="palette 256 $mode $name"
    run "$row" ours "$QB" pal "$in" "$OUT/p-ours.bmp" "$mode"
    psnr "$row" ours "$in" "$OUT/p-ours.bmp"
    case $mode in
      none) imd=None ;;
      light) imd=Riemersma ;;
      heavy) imd=FloydSteinberg ;;
    esac
    if have convert; then
      peer_im "$row" "$in" -dither "$imd" -colors 256 "BMP3:$OUT/p-im.bmp"
      psnr "$row" IM-1t "$in" "$OUT/p-im.bmp"
    fi
    if have pngquant && [ "$mode" != light ]; then
      opts=(--force --speed 3 --output "$OUT/p-pq.png")
      [ "$mode" = none ] && opts+=(--nofs)
      run "$row" pngquant pngquant "${opts[@]}" 256 "$DATA/$name.png"
      psnr "$row" pngquant "$in" "$OUT/p-pq.png"
    fi
  done
done

# 100 frames of a pan over the photo, one palette for all.
FR="$DATA/frames"
NF=100
[ "$QUICK" = 1 ] && NF=10
if [ ! -f "$FR/f$(printf %03d $((NF - 1))).ppm" ]; then
  mkdir -p "$FR"
  "$QB" frames "$DATA/photo.ppm" "$FR" "$NF" 640 480
fi
mkdir -p "$OUT/frames"
for mode in none light heavy; do
  row="palette 256 $mode, $NF frames 640x480"
  run "$row" ours "$QB" palframes "$FR" "$NF" "$mode" "$OUT/frames"
  psnr "$row" ours "$FR/f000.ppm" "$OUT/frames/o000.bmp"
  case $mode in none) imd=None ;; light) imd=Riemersma ;; heavy) imd=FloydSteinberg ;; esac
  if have convert; then
    peer_im "$row" "$FR"/f*.ppm -dither "$imd" -colors 256 +map "BMP3:$OUT/frames/m%03d.bmp"
    psnr "$row" IM-1t "$FR/f000.ppm" "$OUT/frames/m000.bmp"
  fi
done
fi

# ---- 3x3 filters and tone effects ------------------------------------------------

if section filters; then

echo "filters and tone" >&2
in="$DATA/photo.ppm"
# The library's kernels, for vips conv (same arithmetic, float).
printf '3 3 16 0\n1 1 1\n1 8 1\n1 1 1\n' >"$OUT/soften.mat"
printf '3 3 4 0\n0 -1 0\n-1 8 -1\n0 -1 0\n' >"$OUT/sharpen.mat"
printf '3 3 1 0\n-1 -3 -1\n-3 16 -3\n-1 -3 -1\n' >"$OUT/edges.mat"
printf '3 3 4 0\n-1 -2 -1\n-2 16 -2\n-1 -2 -1\n' >"$OUT/enhance.mat"
run "soften 3x3 photo" ours "$QB" soften "$in" "$OUT/f.ppm"
peer_im "soften 3x3 photo" "$in" -blur 1x0.7 "$OUT/f.ppm"
peer_vips "soften 3x3 photo" conv "$in" "$OUT/f.ppm" "$OUT/soften.mat" --precision integer
run "sharpen 3x3 photo" ours "$QB" sharpen "$in" "$OUT/f.ppm"
peer_im "sharpen 3x3 photo" "$in" -sharpen 1x0.7 "$OUT/f.ppm"
peer_vips "sharpen 3x3 photo" conv "$in" "$OUT/f.ppm" "$OUT/sharpen.mat" --precision integer
run "find edges 3x3 photo" ours "$QB" edges "$in" "$OUT/f.ppm"
peer_im "find edges 3x3 photo" "$in" -edge 1 "$OUT/f.ppm"
peer_vips "find edges 3x3 photo" conv "$in" "$OUT/f.ppm" "$OUT/edges.mat" --precision integer
run "edge enhance 3x3 photo" ours "$QB" enhance "$in" "$OUT/f.ppm"
peer_im "edge enhance 3x3 photo" "$in" -morphology Convolve '3x3:-1,-2,-1 -2,16,-2 -1,-2,-1' "$OUT/f.ppm"
peer_vips "edge enhance 3x3 photo" conv "$in" "$OUT/f.ppm" "$OUT/enhance.mat" --precision integer
run "brightness +20% photo" ours "$QB" brightness "$in" "$OUT/f.ppm" 20
peer_im "brightness +20% photo" "$in" -brightness-contrast 20x0 "$OUT/f.ppm"
peer_vips "brightness +20% photo" linear "$in" "$OUT/f.ppm" 1 51 --uchar
run "contrast +30% photo" ours "$QB" contrast "$in" "$OUT/f.ppm" 30
peer_im "contrast +30% photo" "$in" -level 15%,85% "$OUT/f.ppm"
peer_vips "contrast +30% photo" linear --uchar -- "$in" "$OUT/f.ppm" 1.4 -51
run "gamma 1.5 photo" ours "$QB" gamma "$in" "$OUT/f.ppm" 1.5
peer_im "gamma 1.5 photo" "$in" -gamma 1.5 "$OUT/f.ppm"
peer_vips "gamma 1.5 photo" gamma "$in" "$OUT/f.ppm" --exponent 0.6667
run "saturation +50% photo" ours "$QB" saturation "$in" "$OUT/f.ppm" 50
peer_im "saturation +50% photo" "$in" -modulate 100,150 "$OUT/f.ppm"
fi

# ---- codecs ------------------------------------------------------------------

if section codecs; then

echo "codecs" >&2
# 8-bit formats start from the library's own 256-colour version of the photo.
"$QB" pal "$DATA/photo.ppm" "$DATA/photo8.bmp" none >/dev/null
# ffmpeg reads no FLC frame wider or taller than 4096: FLC rows use a crop.
convert "$DATA/photo.ppm" -crop 4096x3072+0+0 +repage "$DATA/photo-flc.ppm"
"$QB" pal "$DATA/photo-flc.ppm" "$DATA/photo8-flc.bmp" none >/dev/null
for fmt in bmp tga pcx png jpg tif gif flc; do
  case $fmt in
    gif) src="$DATA/photo8.bmp" ;;
    flc) src="$DATA/photo8-flc.bmp" ;;
    *) src="$DATA/photo.ppm" ;;
  esac
  enc="$OUT/enc.$fmt"
  what=photo
  [ "$fmt" = flc ] && what="photo crop"
  case $fmt in
    png) imopt=(-define png:compression-level=6) ;;
    jpg) imopt=(-quality 85) ;;
    tif | tga | bmp) imopt=(-compress None) ;;
    *) imopt=() ;;
  esac
  # encode
  row="encode $fmt $what"
  if [ "$fmt" != gif ]; then
    run "$row" ours "$QB" encode "$src" "$enc"
  fi
  if [ "$fmt" != flc ]; then
    imfmt=$fmt
    [ "$fmt" = bmp ] && imfmt=BMP3
    peer_im "$row" "$src" "${imopt[@]}" "$imfmt:$OUT/im.$fmt"
    case $fmt in
      png) peer_vips "$row" pngsave "$src" "$OUT/v.png" --compression 6 --filter all ;;
      jpg) peer_vips "$row" jpegsave "$src" "$OUT/v.jpg" --Q 85 ;;
      tif) peer_vips "$row" tiffsave "$src" "$OUT/v.tif" ;;
      gif) peer_vips "$row" gifsave "$src" "$OUT/v.gif" ;;
    esac
    case $fmt in
      jpg) peer_ff "$row" "$src" -q:v 4 -frames:v 1 "$OUT/ff.$fmt" ;;
      tif) peer_ff "$row" "$src" -compression_algo raw -frames:v 1 "$OUT/ff.$fmt" ;;
      png) peer_ff "$row" "$src" -compression_level 6 -pred mixed -frames:v 1 "$OUT/ff.$fmt" ;;
      *) peer_ff "$row" "$src" -frames:v 1 "$OUT/ff.$fmt" ;;
    esac
  fi
  # decode: every tool reads the same file
  dec="$DATA/photo.$fmt"
  if [ "$fmt" = gif ]; then
    convert "$src" "$dec"
  elif [ -f "$enc" ]; then
    cp "$enc" "$dec"
  fi
  [ -f "$dec" ] || continue
  row="decode $fmt $what"
  run "$row" ours "$QB" decode "$dec"
  if [ "$fmt" != flc ]; then
    peer_im "$row" "$dec" null:
    peer_vips "$row" avg "$dec"
  fi
  peer_ff "$row" "$dec" -f null -
done
fi

# ---- still pipeline ------------------------------------------------------------

if section pipeline; then

echo "still pipeline" >&2
for name in photo "syn${SYNTH[-1]}"; do
  row="pipeline png->half->256 heavy->bmp8 $name"
  run "$row" ours "$QB" pipeline "$DATA/$name.png" "$OUT/pipe.bmp"
  peer_im "$row" "$DATA/$name.png" -resize 50% -dither FloydSteinberg -colors 256 "BMP3:$OUT/pipe-im.bmp"
  read -r W H < <(head -c 64 "$DATA/$name.ppm" | sed -n 2p)
  printf '%s\tdecoded\t\t%s\t\t\n' "$row" $((W * H * 3 / 1024)) >>"$RESULTS"
done
fi

# ---- movie conversion ------------------------------------------------------------

if section movie && have ffmpeg; then

echo "movie conversion" >&2
# 640x480 at 25 frames per second for 10 s with a stereo tone, Motion JPEG.
MOVIE="$DATA/movie.avi"
MSEC=10
[ "$QUICK" = 1 ] && MSEC=2
if [ ! -f "$MOVIE" ] || [ "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$MOVIE" | cut -d. -f1)" != "$MSEC" ]; then
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=640x480:rate=25:duration=$MSEC" \
    -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=$MSEC" \
    -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 "$MOVIE"
fi
# movie_psnr ROW TOOL OUTPUT: RGB PSNR of frames 50 and 125 (the last frame
# of a short movie) of OUTPUT against the source scaled bicubically to
# 352x288, as "f50 / f125".
movie_psnr() {
  local row="$1" tool="$2" out="$3" n values=()
  have compare || return 0
  for n in 50 125; do
    if [ "$n" -ge $((MSEC * 25)) ]; then n=$((MSEC * 25 - 1)); fi
    ffmpeg -nostdin -v error -y -i "$MOVIE" -vf "select=eq(n\,$n),scale=352:288:flags=bicubic" \
      -frames:v 1 -pix_fmt rgb24 "$OUT/m-src.ppm"
    ffmpeg -nostdin -v error -y -i "$out" -vf "select=eq(n\,$n)" -frames:v 1 -pix_fmt rgb24 "$OUT/m-out.ppm"
    values+=("$(compare -metric PSNR "$OUT/m-src.ppm" "$OUT/m-out.ppm" null: 2>&1 |
      awk '{printf "%.1f", $1}' || true)")
  done
  printf '%s\t%s\tpsnr\t\t\t%s\n' "$row" "$tool" "${values[0]} / ${values[1]}" >>"$RESULTS"
}
# One thread: QOR_THREADS=1 against ffmpeg -threads 1; codec threads: the
# library's default (one per core) against ffmpeg's default threads. The
# "B,G,R road" rows force ffmpeg through the same steps as the library:
# decoded frames to packed B,G,R, scaled there, back to YUV.
base="movie 640x480 25fps ${MSEC}s AVI+sound -> MPEG-1 VCD"
ROAD="format=bgr24,scale=352:288:flags=bicubic,format=yuv420p"
row="$base, one thread"
run "$row" ours env QOR_THREADS=1 "$QB" movie "$MOVIE" "$OUT/movie.mpg"
movie_psnr "$row" ours "$OUT/movie.mpg"
run "$row" "ffmpeg-1t" ffmpeg -nostdin -v error -y -threads 1 -i "$MOVIE" -threads 1 \
  -target pal-vcd "$OUT/movie-ff.mpg"
movie_psnr "$row" "ffmpeg-1t" "$OUT/movie-ff.mpg"
row="$base, codec threads"
run "$row" ours "$QB" movie "$MOVIE" "$OUT/movie.mpg"
run "$row" "ffmpeg-all" ffmpeg -nostdin -v error -y -i "$MOVIE" -target pal-vcd "$OUT/movie-ff.mpg"
row="$base, ffmpeg on the B,G,R road"
run "$row" ours env QOR_THREADS=1 "$QB" movie "$MOVIE" "$OUT/movie.mpg"
peer_ff "$row" "$MOVIE" -vf "$ROAD" -target pal-vcd "$OUT/movie-ff.mpg"
fi

python3 "$ROOT/bench/table.py" "$RESULTS"
