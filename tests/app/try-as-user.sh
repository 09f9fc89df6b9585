#!/usr/bin/env bash
# Tries QuillonStudio as a new user would, on a virtual X display: opens a
# picture, converts it, browses a folder of pictures in the image viewer and
# saves a thumbnail; then converts a photo at its own size and at a typed
# one, keeps an existing output by answering No, and converts a picture
# turned in the editor; it checks the files and settings that leaves behind.
#   tests/app/try-as-user.sh [program]
# Without a program it starts the application with scripts/run.sh. Exits 77
# when a tool it needs is missing.
set -euo pipefail
cd "$(dirname "$0")/../.."

for tool in xvfb-run xdotool convert identify compare md5sum; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
if [ -z "${QUILLON_ON_XVFB:-}" ]; then
  export QUILLON_ON_XVFB=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
export QT_QPA_PLATFORM=xcb

work=$(mktemp -d)
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A user of our own: data folder, settings, and a folder of pictures that the
# image viewer showed last time.
export QUILLON_APPDIR="$work/appdata" XDG_CONFIG_HOME="$work/config" QUILLON_SPLASH_MS=100
mkdir -p "$work/pics" "$XDG_CONFIG_HOME"
convert -size 160x96 gradient:orange-navy "$work/pics/sunset.png"
convert -size 120x90 gradient:green-white -type TrueColor "$work/pics/meadow.tga"
convert -size 90x120 gradient:red-yellow "$work/pics/tulip.PCX"
printf '[Init]\nPicDir=%s\n' "$work/pics" > "$XDG_CONFIG_HOME/QuillonCfg.ini"

fail() { echo "FAILED: $*"; exit 1; }
wait_for() {  # seconds, description, test command...
  local seconds=$1 what=$2; shift 2
  for _ in $(seq $((seconds * 10))); do "$@" && return 0; sleep 0.1; done
  fail "$what"
}
# A file the program has finished writing: there, not empty, and the same
# size a moment later (a slow machine may still be writing the rows).
written() {
  local before
  before=$(stat -c %s "$1" 2>/dev/null) && [ "$before" -gt 0 ] && sleep 0.3 &&
    [ "$(stat -c %s "$1")" = "$before" ]
}
window_of() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
has_window() { [ -n "$(window_of "$1")" ]; }
setting() { sed -n "s/^$1=//p" "$XDG_CONFIG_HOME/QuillonCfg.ini"; }
size_of() { identify -format '%wx%h' "$1"; }

if [ $# -gt 0 ]; then "$@" & else bash scripts/run.sh & fi
app_pid=$!
# A cold start (scripts/run.sh builds first) may take minutes; a program that
# ended fails at once rather than at the test's time limit.
shows_main_window() {
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended before its main window showed"
  has_window "Quillon Studio"
}
wait_for 240 "the main window shows" shows_main_window
main=$(window_of "Quillon Studio")
sleep 0.5

# Every command is on the popup menu of the preview (a right click).
menu() {
  xdotool mousemove --window "$main" 100 140 click 3
  sleep 0.4
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
}

# Open a picture through the file dialog.
menu 1
wait_for 10 "the open dialog shows" has_window "Open"
sleep 0.3
xdotool type --delay 20 "$work/pics/sunset.png"
xdotool key Return
sleep 1

# Convert it; the output settings dialog is confirmed as it stands.
menu 6
converted="$QUILLON_APPDIR/images/sunset(1).bmp"
wait_for 10 "the output settings dialog shows" has_window "Output File Settings"
sleep 0.3
xdotool key Return
wait_for 20 "the picture is converted" written "$converted"
[ "$(size_of "$converted")" = 160x96 ] || fail "converted size $(size_of "$converted")"

# Browse the folder of pictures in the image viewer, then close it.
menu 3
wait_for 10 "the image viewer shows" has_window "Thumbnails:"
sleep 2
xdotool key Escape
wait_for 10 "the image viewer closes" bash -c "! xdotool search --onlyvisible --name 'Thumbnails:' >/dev/null"
[ "$(setting PicDir)" = "$work/pics" ] || fail "PicDir is '$(setting PicDir)'"

# Save a thumbnail with the proposed name and size, then close the window.
menu 4
wait_for 10 "the thumbnail window shows" has_window "Save Thumbnail"
thumbs=$(window_of "Save Thumbnail")
sleep 0.5
xdotool mousemove --window "$thumbs" 93 13 click 1   # "Convert"
wait_for 10 "the output settings dialog shows" has_window "Output File Settings"
sleep 0.3
xdotool key Return
thumbnail="$QUILLON_APPDIR/thumbs/sunset(1).bmp"
wait_for 20 "the thumbnail is written" written "$thumbnail"
height=$(identify -format '%h' "$thumbnail")
[ "$height" = 128 ] || fail "thumbnail height $height"
xdotool mousemove --window "$thumbs" 31 13 click 1   # "Cancel"
wait_for 10 "the thumbnail window closes" bash -c "! xdotool search --onlyvisible --name 'Save Thumbnail' >/dev/null"
[ "$(setting ThumbDir)" = "$QUILLON_APPDIR/thumbs" ] || fail "ThumbDir is '$(setting ThumbDir)'"

# Places in the main window, from its layout in twips (15 to a pixel).
click_at() { xdotool mousemove --window "$main" "$1" "$2" click 1; sleep 0.3; }
width_box() { click_at 340 405; }
format_option() {  # slot of the option in the grid of six columns
  click_at $(( (4200 + ($1 % 6) * 880) / 15 + 12 )) $(( (3030 + ($1 / 6) * 270) / 15 + 9 ))
}
convert_confirmed() {
  menu 6
  wait_for 10 "the output settings dialog shows" has_window "Output File Settings"
  sleep 0.3
  xdotool key Return
}

# A photo of 800 x 600 converted as it is: the same size comes out.
mkdir -p "$work/in"
convert -size 800x600 gradient:orange-navy -type TrueColor -depth 8 "$work/in/photo.png"
menu 1
wait_for 10 "the open dialog shows" has_window "Open"
sleep 0.3
xdotool type --delay 20 "$work/in/photo.png"
xdotool key Return
sleep 1
convert_confirmed
photo="$QUILLON_APPDIR/images/photo(1).bmp"
wait_for 20 "the photo is converted" written "$photo"
[ "$(size_of "$photo")" = 800x600 ] || fail "photo size $(size_of "$photo")"
before=$(md5sum < "$photo")

# 333 typed as the width: the height follows, and a question comes before
# the photo of the same name is replaced; No keeps it.
width_box
xdotool key ctrl+a
xdotool type --delay 20 333
sleep 0.3
convert_confirmed
sleep 1
xdotool key Escape
sleep 1
[ "$(md5sum < "$photo")" = "$before" ] || fail "the photo was replaced after No"
[ "$(size_of "$photo")" = 800x600 ] || fail "photo size after No $(size_of "$photo")"

# PNG instead: the proposed name moves to a free one, written at 333 x 250.
format_option 10
small="$QUILLON_APPDIR/images/photo(1).png"
convert_confirmed
wait_for 20 "the small photo is converted" written "$small"
[ "$(size_of "$small")" = 333x250 ] || fail "small photo size $(size_of "$small")"

# Turned right in the editor and applied, it converts upright at 600 x 800.
menu 5
xdotool key Right Return
wait_for 10 "the editor shows" has_window "photo.png"
editor=$(window_of "photo.png")
sleep 0.5
xdotool mousemove --window "$editor" 169 10 click 1   # menu "Rotate"
sleep 0.4
xdotool key Down Down Down Return                      # "Right 90 degrees"
sleep 1
xdotool mousemove --window "$editor" 548 392 click 1   # "Apply" of the main toolbar
wait_for 10 "the editor closes" bash -c "! xdotool search --onlyvisible --name 'photo.png' >/dev/null"
format_option 0
upright="$QUILLON_APPDIR/images/photo(2).bmp"
convert_confirmed
wait_for 20 "the turned photo is converted" written "$upright"
[ "$(size_of "$upright")" = 600x800 ] || fail "turned photo size $(size_of "$upright")"
convert "$work/in/photo.png" -rotate 90 "$work/in/peer.png"
differing=$(compare -metric AE "$upright" "$work/in/peer.png" null: 2>&1 || true)
[ "$differing" = 0 ] || fail "the turned photo differs from the peer's in $differing pixels"

kill -0 "$app_pid" 2>/dev/null || fail "the application ended"
echo "tried as a user: opened, converted, browsed, saved a thumbnail, kept a photo on No, converted it at 333 x 250 and turned upright"
