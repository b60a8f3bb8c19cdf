#!/usr/bin/env bash
# End to end: the options file chooses the interface language. Started with
# savegame/saveOptions.sqv holding English, Russian and German in turn, the
# help text on the information monitor, the lower panel's switches and, after
# Start, the statistics captions read in that language (screenshots read with
# tesseract): the tracker's words, none of the word game's that the string
# table holds under the same keys. The upper panel keeps its English captions.
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

# Text tesseract reads in a region of a shot, with only its ink kept: black
# on white, taken every STEP columns and enlarged SCALE times. INK "blue" is
# the monitor's text, "white" the switches' (on a blue box, or red while on).
# The monitor stretches its text 1.78 times along x, which tesseract reads
# poorly: a STEP of 2 undoes that.
read_ink() {  # read_ink SHOT X Y W H STEP SCALE INK TESSERACT-LANGUAGE
  python3 - "$@" "$work/ink.pgm" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
parts = data.split(maxsplit=4)
width, pixels = int(parts[1]), parts[4]
x0, y0, w, h, step, scale = map(int, sys.argv[2:8])
ink, out = sys.argv[8], sys.argv[10]
def is_ink(r, g, b):
    if ink == "white":
        return min(r, g, b) > 200
    return b > 150 and b > r + 90
rows = []
for y in range(y0, y0 + h):
    row = bytearray()
    for x in range(x0, x0 + w, step):
        i = 3 * (y * width + x)
        row += (b"\x00" if is_ink(pixels[i], pixels[i + 1], pixels[i + 2]) else b"\xff") * scale
    rows += [bytes(row)] * scale
with open(out, "wb") as f:
    f.write(b"P5\n%d %d\n255\n" % (len(rows[0]), len(rows)) + b"".join(rows))
PY
  tesseract "$work/ink.pgm" - -l "$9" --psm 6 2>/dev/null | tr '\n' ' '
}

read -r screen_w screen_h < <(xdotool getdisplaygeometry)
left=$((screen_w / 2 - 512))
top=$((screen_h / 2 - 384))

# Fails when TEXT lacks one of the comma-separated WORDS, or holds one of the
# comma-separated GAME words.
expect_words() {  # expect_words WHAT TEXT WORDS GAME-WORDS
  local word
  local -a words game
  IFS=',' read -ra words <<<"$3"
  IFS=',' read -ra game <<<"$4"
  for word in "${words[@]}"; do
    echo "$2" | grep -qi -- "$word" || fail "$1 without '$word': $2"
  done
  for word in "${game[@]}"; do
    echo "$2" | grep -qi -- "$word" && fail "$1 shows the word game's '$word': $2"
  done
  return 0
}

# check_language NUMBER TESSERACT-LANGUAGE SWITCH-WORDS STOPPED-WORD
#   STATISTICS-WORDS GAME-WORDS HELP-WORDS (word lists comma-separated)
check_language() {
  local number="$1" ocr="$2" switches="$3" stop="$4" statistics="$5" game="$6" helpwords="$7"
  local dir="$work/lang$number"
  make_run_dir "$dir" "$number"
  (cd "$dir" && exec ./velmorin >"$work/lang$number.txt" 2>&1) &
  pid=$!
  main_window
  sleep 1.0
  $xwin grab "$left" "$top" 1024 768 "$work/shot$number.ppm"
  # Start: the Start/Stop switch, leftmost on the lower panel.
  xdotool mousemove $((left + 70)) $((top + 746)) click 1
  sleep 1.5
  $xwin grab "$left" "$top" 1024 768 "$work/started$number.ppm"
  $xwin close "$window"
  exit_status
  [ "$status" -eq 0 ] || fail "language $number: exit status $status"

  local help lower upper started
  help="$(read_text "$work/shot$number.ppm" 140 200 740 450 1 "$ocr")"
  expect_words "language $number: help text" "$help" "$helpwords" ""
  # The lower panel's Start/Stop, Clear, VSync and On-top row.
  lower="$(read_text "$work/shot$number.ppm" 20 728 380 36 3 "$ocr")"
  expect_words "language $number: switches" "$lower" "$switches" "$game"
  if [ "$number" -ne 0 ]; then
    echo "$lower" | grep -q "Eco" && fail "language $number: the VSync switch is still English: $lower"
  fi
  upper="$(read_text "$work/shot$number.ppm" 0 0 1024 45 2 eng)"
  echo "$upper" | grep -q "Odometer" || fail "language $number: upper panel not in English: $upper"
  echo "$upper" | grep -q "Speedometer" || fail "language $number: upper panel not in English: $upper"

  started="$(read_ink "$work/started$number.ppm" 40 140 960 430 2 1 blue "$ocr")"
  expect_words "language $number: statistics" "$started" "$statistics" "$game"
  lower="$(read_ink "$work/started$number.ppm" 20 728 380 36 1 3 white "$ocr")"
  expect_words "language $number: switches after Start" "$lower" "$stop" "$game"
}

check_language 0 eng "Start,Eco,Off" "Stop" "Odometer,Speedometer,Max Speed,Stops,Time" "" \
  "three-dimensional,mouse"
check_language 1 rus "Старт,ыше,Эко" "Стоп" "Одометр,Спидометр,Макс. скор,Остановки,Время" \
  "Счёт,Уровень,Lexfall,Бонус,Попытки,Следующая,бывает,Игра,крут" "интерфейс,камер,используйте"
check_language 2 deu "Start,Obenauf,Öko" "Stop" "Strecke,Tacho,Höchsttempo,Stopps,Zeit" \
  "Spielstand,Level,Lexfall,Bonus,Versuche,Nächste,traurig,Spiel,cool" "Programmoberfläche,Schaltfläche,Maus"
echo "PASS: help text, switches and statistics in English, Russian and German from the options file; upper panel in English"
