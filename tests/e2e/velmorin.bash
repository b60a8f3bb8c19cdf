# Shared by the end-to-end scripts (sourced, not run): a virtual X server when
# none is set, a work folder, failure reporting, and finding the main window.
# Sourced as: source "$here/velmorin.bash" "$0" "$run_dir"

script="$1"
run_dir="$2"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1920x1080x24" bash "$script" "$run_dir"
fi

xwin="python3 $(dirname "${BASH_SOURCE[0]}")/xwindow.py"
work="$(mktemp -d)"
pid=""
holder=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
  if [ -n "$holder" ]; then kill "$holder" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Keep the X server from resetting whenever the program (its only client)
# ends: a run started during a reset cannot open the display.
$xwin hold >"$work/hold" &
holder=$!
for _ in $(seq 1 50); do
  [ -s "$work/hold" ] && break
  sleep 0.1
done

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
# or no such window appears within 30 s (software GL on a busy machine is slow
# to start; a healthy run takes well under a second).
main_window() {
  local id
  window=""
  for _ in $(seq 1 300); do
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

# Waits up to 30 s for the program to end; sets `status` to its exit status.
exit_status() {
  status=0
  for _ in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "the program did not end after the close request"
  wait "$pid" || status=$?
  pid=""
}
