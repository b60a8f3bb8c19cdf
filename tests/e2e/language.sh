#!/usr/bin/env bash
# End to end: the options file chooses the interface language. Started with
# savegame/saveOptions.sqv holding English, Russian and German in turn, the
# help text on the information monitor and the lower panel's switches read in
# that language (a screenshot read with tesseract), while the upper panel
# keeps its English captions.
# Each run works in a run directory of its own (links to the real one).
set -euo pipefail

run_dir="$(cd "${1:?usage: language.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash" "$0" "$run_dir"
crop="python3 $here/crop.py"

# A run directory of links to the real one, with a savegame folder of its own
# whose options (speed, columns, language: three little-endian int32) choose
# the language.
make_run_dir() {  # make_run_dir DIR LANGUAGE
  local dir="$1"
  mkdir -p "$dir/savegame"
  for entry in velmorin shaders fonts textures skybox icons dictionary; do
    ln -s "$run_dir/$entry" "$dir/$entry"
  done
  python3 -c "import struct,sys; open(sys.argv[1],'wb').write(struct.pack('<3i',5,5,$2))" \
    "$dir/savegame/saveOptions.sqv"
}

# Text tesseract reads in a region of the window, upscaled by SCALE.
read_text() {  # read_text SHOT X Y W H SCALE TESSERACT-LANGUAGE
  $crop "$1" "$2" "$3" "$4" "$5" "$6" "$work/region.ppm"
  tesseract "$work/region.ppm" - -l "$7" 2>/dev/null | tr '\n' ' '
}

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
left=$((screen_w / 2 - 512))
top=$((screen_h / 2 - 384))

check_language() {  # check_language NUMBER TESSERACT-LANGUAGE SWITCH-WORDS EXPECTED-WORD...
  local number="$1" ocr="$2" switches="$3"
  shift 3
  local dir="$work/lang$number"
  make_run_dir "$dir" "$number"
  (cd "$dir" && exec ./velmorin >"$work/lang$number.txt" 2>&1) &
  pid=$!
  main_window
  sleep 1.0
  $xwin grab "$left" "$top" 1024 768 "$work/shot$number.ppm"
  $xwin close "$window"
  exit_status
  [ "$status" -eq 0 ] || fail "language $number: exit status $status"

  local help upper
  help="$(read_text "$work/shot$number.ppm" 140 280 740 340 1 "$ocr")"
  for word in "$@"; do
    echo "$help" | grep -qi -- "$word" || fail "language $number: help text without '$word': $help"
  done
  # The lower panel's Start/Stop, Clear, VSync and On-top row.
  lower="$(read_text "$work/shot$number.ppm" 20 728 380 36 3 "$ocr")"
  for word in $switches; do
    echo "$lower" | grep -q -- "$word" || fail "language $number: switches without '$word': $lower"
  done
  if [ "$number" -ne 0 ]; then
    echo "$lower" | grep -q "Eco" && fail "language $number: the VSync switch is still English: $lower"
  fi
  upper="$(read_text "$work/shot$number.ppm" 0 0 1024 45 2 eng)"
  echo "$upper" | grep -q "Odometer" || fail "language $number: upper panel not in English: $upper"
  echo "$upper" | grep -q "Speedometer" || fail "language $number: upper panel not in English: $upper"
}

check_language 0 eng "Start Eco Off" "three-dimensional" "mouse"
check_language 1 rus "Старт ыше" "интерфейс" "камер"
check_language 2 deu "Start Obenauf" "dreidimensional" "Maus"
echo "PASS: help text and switches in English, Russian and German from the options file; upper panel in English"
