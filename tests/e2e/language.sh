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
source "$here/velmorin.bash"

# Regions of the window (see ocr.py): the help text's last four lines (it
# ends at the same place in every language), the statistics captions, and
# the switches. Each switch's box is read on its own, enlarged three times:
# a row of them read as one line runs the words together. The Clear button says "Clear" in every language, which the
# recogniser of another alphabet cannot read; the GL tests hold its caption.
help_text="blue:140,475,740,160:1"
statistics="blue:40,140,600,430:0.56x1"
start_switch="white:29,729,82,36:3"
vsync_switch="white:217,729,82,36:3"
on_top_switch="white:311,729,82,36:3"
upper_panel="dark:0,0,1024,45:1"

# Fails when TEXT holds one of the comma-separated GAME words.
no_game_words() {  # no_game_words WHAT TEXT GAME-WORDS
  local word
  local -a game
  IFS=',' read -ra game <<<"$3"
  for word in "${game[@]}"; do
    grep -qi -- "$word" <<<"$2" && fail "$1 shows the word game's '$word': $2"
  done
  return 0
}

# The start view: help text, switches and the upper panel read as expected;
# the word game's words fail at once.
start_view_reads() {  # start_view_reads NAME OCR HELP-WORDS START VSYNC ON-TOP GAME-WORDS
  local -a read
  local help upper
  shot "$1"
  mapfile -t read < <(read_text "$1" "$2" 6 "$help_text" "$start_switch" "$vsync_switch" "$on_top_switch")
  help="${read[0]}"
  no_game_words "language $number: switches" "${read[1]} | ${read[2]} | ${read[3]}" "$7"
  upper="$(read_text "$1" eng 6 "$upper_panel")"
  seen="help text '$help', switches '${read[1]} | ${read[2]} | ${read[3]}', upper panel '$upper'"
  has_words "$help" "$3" && has_words "${read[1]}" "$4" && has_words "${read[2]}" "$5" \
    && has_words "${read[3]}" "$6" && has_words "$upper" "Odometer,Speedometer"
}

# After Start: the statistics captions and the switch's Stop read as
# expected; the word game's words fail at once.
started_view_reads() {  # started_view_reads NAME OCR STATISTICS-WORDS STOP GAME-WORDS
  local -a read
  shot "$1"
  mapfile -t read < <(read_text "$1" "$2" 6 "$statistics" "$start_switch")
  no_game_words "language $number: statistics" "${read[0]}" "$5"
  no_game_words "language $number: switch after Start" "${read[1]}" "$5"
  seen="statistics '${read[0]}', Start/Stop switch '${read[1]}'"
  has_words "${read[0]}" "$3" && has_words "${read[1]}" "$4"
}

# check_language NUMBER TESSERACT-LANGUAGE HELP-WORDS START VSYNC ON-TOP STOP
#   STATISTICS-WORDS GAME-WORDS (word lists comma-separated)
check_language() {
  local number="$1" ocr="$2" helpwords="$3" start="$4" vsync="$5" on_top="$6" stop="$7"
  local statistics_words="$8" game="$9"
  local dir="$work/lang$number"
  link_run_dir "$dir" "$number"
  (cd "$dir" && exec ./velmorin >"$work/lang$number.txt" 2>&1) &
  pid=$!
  main_window
  wait_until "language $number: the start view" \
    start_view_reads "start$number" "$ocr" "$helpwords" "$start" "$vsync" "$on_top" "$game"

  # Start: the Start/Stop switch, leftmost on the lower panel. The pointer
  # stays there: the program takes the place of a click from where the
  # pointer is when it handles the click.
  xdotool mousemove $((left + 70)) $((top + 746)) click 1
  wait_until "language $number: statistics and Stop after Start" \
    started_view_reads "started$number" "$ocr" "$statistics_words" "$stop" "$game"

  $xwin close "$window"
  exit_status
  [ "$status" -eq 0 ] || fail "language $number: exit status $status"
}

# The statistics captions read reliably; the stretched values and "X:"/"Y:"
# do not. The Start/Stop switch reads Start and Stop in English and German:
# those are the same words there.
check_language 0 eng "scrolling,implemented,tracking" Start Eco "Off Top" Stop \
  "Odometer,Speedometer,Max Speed,Stops,Time" ""
check_language 1 rus "виртуальным,реализована,отслеживать" Старт Эко Выше Стоп \
  "Одометр,Спидометр,Макс. скор,Остановки,Время" \
  "Счёт,Уровень,Lexfall,Бонус,Попытки,Следующая,бывает,Игра,крут"
check_language 2 deu "Bildschirmen,Schaltfläche,Mausbewegung" Start Öko Obenauf Stop \
  "Strecke,Tacho,Höchsttempo,Stopps,Zeit" \
  "Spielstand,Level,Lexfall,Bonus,Versuche,Nächste,traurig,Spiel,cool"
echo "PASS: help text, switches and statistics in English, Russian and German from the options file; upper panel in English"
