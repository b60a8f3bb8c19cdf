# Shared by the end-to-end scripts (sourced, not run): a virtual X server when
# none is set, a work folder, run directories of the scripts' own, failure
# reporting, finding the main window, window shots, reading them, and waiting
# for what the screen must show.
# Sourced, once the script has set run_dir: source "$here/velmorin.bash"

e2e="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
xwin="python3 $e2e/xwindow.py"
# tesseract's own threads only slow it down beside other busy processes (a
# read that takes a second alone took half a minute beside eight busy loops).
export OMP_THREAD_LIMIT=1
work="$(mktemp -d)"
pid=""
holder=""
server=""
# Nothing the script started outlives it: the program it runs (whose own
# processes end with it), the X client that holds the server, the server.
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; fi
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# Ended by a signal (an interrupt, timeout's TERM), bash skips the EXIT trap
# unless the signal has one of its own.
trap 'exit 143' TERM
trap 'exit 130' INT
trap 'exit 129' HUP

# Without a display, a virtual X server of the script's own, on a display it
# picks itself (-displayfd). It gets SIGKILL when the script ends however it
# ends: killed outright too (ctest kills a script at its timeout), when no
# trap runs.
if [ -z "${DISPLAY:-}" ]; then
  setpriv --pdeathsig KILL Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset \
    3>"$work/display" 2>"$work/server.log" &
  server=$!
  deadline=$((SECONDS + 30))
  until [ -s "$work/display" ]; do
    kill -0 "$server" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || {
      echo "FAIL: the virtual X server did not start: $(cat "$work/server.log")" >&2
      exit 1
    }
    sleep 0.1
  done
  export DISPLAY=":$(head -n 1 "$work/display")"
fi

# Keep the X server from resetting whenever the program (its only client)
# ends: a run started during a reset cannot open the display. It ends with
# the script, as the server does.
setpriv --pdeathsig KILL $xwin hold >"$work/hold" &
holder=$!
until [ -s "$work/hold" ] || ! kill -0 "$holder" 2>/dev/null; do
  sleep 0.1
done

# Makes DIR a run directory of links to the real one's files, less the paths
# named, with a savegame folder of its own whose options (speed, columns,
# language: three little-endian int32) choose LANGUAGE (0 English, 1 Russian,
# 2 German). What a user saved there (the interface language among it) never
# reaches a test, and no test writes into the user's files.
link_run_dir() {  # link_run_dir DIR LANGUAGE [EXCLUDED-PATH...]
  local dir="$1" language="$2" file excluded
  shift 2
  mkdir -p "$dir/savegame"
  (cd "$run_dir" && find . -type f ! -path './savegame/*' ! -path ./photo.jpeg) | while read -r file; do
    for excluded in "$@"; do [ "$file" = "./$excluded" ] && continue 2; done
    mkdir -p "$dir/$(dirname "$file")"
    ln -s "$run_dir/$file" "$dir/$file"
  done
  python3 -c "import struct, sys; open(sys.argv[1], 'wb').write(struct.pack('<3i', 5, 5, $language))" \
    "$dir/savegame/saveOptions.sqv"
}

fail() {
  {
    echo "FAIL: $*"
    echo "--- program output ---"
    cat "$work"/*.txt 2>/dev/null || true
  } >&2
  exit 1
}

# Succeeds when a comparison of decimal numbers holds: is_true "0.7 > 0.5".
is_true() {
  python3 -c "import sys; sys.exit(0 if $1 else 1)"
}

# Sets `window` to the program's main window: the one named Velmorin that has
# grown to 1024x768 (the splash is 512x256). Fails when the program ends first
# or no such window appears within a minute (software GL on a busy machine is
# slow to start; a healthy run takes well under a second).
main_window() {
  local id deadline=$((SECONDS + 60))
  window=""
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$pid" 2>/dev/null || fail "the program ended during start-up"
    for id in $(xdotool search --onlyvisible --name '^Velmorin$' 2>/dev/null || true); do
      if xdotool getwindowgeometry "$id" 2>/dev/null | grep -q 'Geometry: 1024x768'; then
        window="$id"
        return
      fi
    done
    sleep 0.1
  done
  fail "no 1024x768 window named Velmorin appeared"
}

# Waits up to a minute for the program to end; sets `status` to its exit
# status.
exit_status() {
  local deadline=$((SECONDS + 60))
  status=0
  while kill -0 "$pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "the program did not end after the close request"
  wait "$pid" || status=$?
  pid=""
}

# The main window is centred on the screen.
read -r screen_w screen_h < <(xdotool getdisplaygeometry)
left=$((screen_w / 2 - 512))
top=$((screen_h / 2 - 384))

# Saves the window's area of the screen as $work/NAME.ppm.
shot() {  # shot NAME
  $xwin grab "$left" "$top" 1024 768 "$work/$1.ppm"
}

# Prints, one line per region, the text tesseract reads in regions of a shot
# (see ocr.py for REGION).
read_text() {  # read_text NAME TESSERACT-LANGUAGE PSM REGION...
  local name="$1"
  shift
  python3 "$e2e/ocr.py" "$work/$name.ppm" "$@"
}

# Runs CHECK (a command) until it succeeds: the screen needs a few frames
# to show what an action changed, and a busy machine draws them slowly. CHECK
# sets `seen` to what it found, for the failure message WHAT when it still
# fails after 40 s (a healthy run needs a second or two).
wait_until() {  # wait_until WHAT CHECK...
  local what="$1" deadline=$((SECONDS + 40))
  shift
  seen=""
  until "$@"; do
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      fail "the program ended while waiting: $what"
    fi
    [ "$SECONDS" -lt "$deadline" ] || fail "$what: $seen"
    sleep 0.2
  done
}

# Waits until the main window shows its first frames: the sky around the
# information monitor and between the head-up panels; the view is saved as
# $work/start.ppm.
wait_for_sky() {
  wait_until "the window does not show the sky" sky_shows
}
sky_shows() {
  shot start
  seen="sky-like share $($xwin sky "$work/start.ppm")"
  is_true "${seen##* } > 0.1"
}

# Succeeds when TEXT holds every one of the comma-separated WORDS (in any
# case).
has_words() {  # has_words TEXT WORDS
  local word
  local -a words
  IFS=',' read -ra words <<<"$2"
  for word in "${words[@]}"; do
    grep -qi -- "$word" <<<"$1" || return 1
  done
}
