#!/usr/bin/env bash
# End to end: the program started under what a user's system may set for it.
# With SIGCHLD ignored by its launcher, a small file-size limit or few
# descriptors it starts, shows the sky, loads every picture and closes with
# status 0; started with its standard streams closed it runs on /dev/null;
# under a hard address-space limit a picture's decoding is limited below it,
# and one too small to run in is named as running out of memory; killed
# while a picture is decoded, it leaves no process running; and a decoder
# process killed under it leaves no zombie.
set -euo pipefail

run_dir="$(cd "${1:?usage: environment.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash"

# Run directories of its own, in English. The slow one's logo takes a
# couple of seconds to decode: 2048x2048 pixels of noise as JPEG 2000; the
# damaged one's route monitor picture is cut short.
for dir in plain slow damaged; do
  link_run_dir "$work/$dir" 0
done
python3 -c 'import random, sys; side = 2048; sys.stdout.buffer.write(b"P6 %d %d 255\n" % (side, side) +
  random.Random(1).randbytes(side * side * 3))' >"$work/noise.ppm"
rm "$work/slow/textures/logo.png" "$work/damaged/textures/monitor_route.jpg"
/usr/bin/convert-im6.q16 "$work/noise.ppm" "j2k:$work/slow/textures/logo.png"
head -c 2000 "$run_dir/textures/monitor_route.jpg" >"$work/damaged/textures/monitor_route.jpg"

# Starts the program from DIR in a process group of its own, under `ulimit
# LIMIT` unless LIMIT is empty and through LAUNCHER, its output in $work/NAME.txt.
start() {  # start NAME DIR LIMIT [LAUNCHER...]
  local name="$1" dir="$2" limit="$3"
  shift 3
  # shellcheck disable=SC2086  # LIMIT is an option and its value
  (cd "$dir" && { [ -z "$limit" ] || ulimit $limit; } &&
    exec setsid "$@" ./velmorin >"$work/$name.txt" 2>&1) &
  pid=$! group_id=$!
}

# Prints "PID PARENT STATE GROUP" for each process still there as /proc/PID/stat is read.
processes() {
  { cat /proc/[0-9]*/stat 2>/dev/null || true; } | sed 's/^\([0-9]*\) (.*) /\1 /' |
    awk '{ print $1, $3, $2, $4 }'
}
# Prints "PID PARENT STATE" for each process of the program's group.
group() { processes | awk -v group="$group_id" '$4 == group { print $1, $2, $3 }'; }
# Succeeds when a process of the group is in a state matching STATE (^Z: a zombie).
group_has() { group | awk -v state="$1" '$3 ~ state { found = 1 } END { exit !found }'; }
# The group's processes in one line, for a failure message.
group_line() { echo "(pid, parent, state) $(group | paste -sd ,)"; }
# Prints the decoder process: the process of the group besides the program.
decoder_process() { group | awk -v program="$group_id" '$1 != program { print $1 }'; }
# Succeeds while PID runs (is there, and no zombie).
runs() { processes | awk -v pid="$1" '$1 == pid && $3 !~ /^Z/ { found = 1 } END { exit !found }'; }

# Succeeds when a decoding child (a child of the decoder process, leading a
# process group of its own) runs; sets `child`.
decoding_child() {
  child="$(processes | awk -v decoders="$(decoder_process | paste -sd ' ')" '
    BEGIN { n = split(decoders, list, " "); for (i = 1; i <= n; i++) decoder[list[i]] = 1 }
    ($2 in decoder) && $3 !~ /^Z/ { print $1 }' | head -n 1)"
  [ -n "$child" ]
}

# Waits for the sky, closes the window and fails unless the program ends
# with status 0; WHAT says how it ran.
closes_with_0() {  # closes_with_0 WHAT
  wait_for_sky
  $xwin close "$window"
  exit_status
  [ "$status" -eq 0 ] || fail "exit status $status $1"
}
# Fails when the program's output in $work/NAME.txt says a picture was not loaded.
all_loaded() {  # all_loaded NAME
  local lines
  lines="$(grep -E "^((Picture|Window icon) .* not loaded|Cannot load)" "$work/$1.txt" || true)"
  [ -z "$lines" ] || fail "$1: a picture was not loaded: $lines"
}
# The program starts, shows the sky and closes with status 0, every picture loaded.
runs_normally() {  # runs_normally NAME LIMIT [LAUNCHER...]
  start "$1" "$work/plain" "${@:2}"
  main_window
  closes_with_0 "($1)"
  all_loaded "$1"
}

# SIGCHLD ignored by the launcher, which exec keeps.
runs_normally sigchld "" python3 -c 'import os, signal, sys; signal.signal(signal.SIGCHLD, signal.SIG_IGN)
os.execvp(sys.argv[1], sys.argv[1:])'

# A file-size limit (in KiB) below the pictures' pixels, on a first start: Mesa
# writes its shader cache's index, over a megabyte, and the write must fail, not end the program.
runs_normally fsize100 "-f 100" env XDG_CACHE_HOME="$work/cache100"
runs_normally fsize1000 "-f 1000" env XDG_CACHE_HOME="$work/cache1000"

# Few descriptors: 16, of which the X connection, the GL driver and the
# decoder's socket take most.
runs_normally files16 "-n 16"

# Standard streams closed, and a damaged picture whose line is the first the
# program prints: the decoder's socket and the X connection would take 0 and 1
# and that line would go into the X connection. It runs on /dev/null instead.
start closed "$work/damaged" "" bash -c 'exec "$0" "$@" <&- >&- 2>&-'
main_window
for fd in 0 1 2; do
  target="$(readlink "/proc/$pid/fd/$fd" || true)"
  [ "$target" = /dev/null ] || fail "started with it closed, descriptor $fd is ${target:-closed}, not /dev/null"
done
closes_with_0 "when started with the standard streams closed"

# The decoder process killed: the system reaps it, the program runs on.
start decoderkilled "$work/plain" ""
main_window
wait_for_sky
decoder="$(decoder_process)"
[ "$(wc -w <<<"$decoder")" -eq 1 ] || fail "expected one decoder process beside the program: $(group_line)"
kill -KILL "$decoder"
deadline=$((SECONDS + 10))
while group_has '^Z'; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the killed decoder process stays a zombie: $(group_line)"
  sleep 0.1
done
closes_with_0 "after the decoder process was killed"

# A hard address-space limit of 4 GiB, set as an ordinary user (root, who could
# raise it, runs without that capability): the decoding child limits itself
# below it and the program runs. AddressSanitizer cannot run under it.
limited="a picture's decoding is limited below a user's hard address-space limit; "
# grep reads all of nm's output: nm ended by SIGPIPE would fail the pipeline.
if nm -D "$run_dir/velmorin" | grep ' __asan_init$' >/dev/null; then
  echo "SKIP: the address-space limit in the sanitizer build"
  limited=""
else
  hard=$((4 << 30))
  as_user=()
  [ "$(id -u)" -ne 0 ] || as_user=(setpriv --bounding-set -sys_resource)
  start aslimit "$work/slow" "-v $((hard >> 10))" "${as_user[@]}" env XDG_CACHE_HOME="$work/cache"
  wait_until "no decoding child appeared" decoding_child
  # The child sets its limit as it starts: read until it is set or the child ended.
  soft=""
  while line="$(grep '^Max address space' "/proc/$child/limits" 2>/dev/null)"; do
    read -r _ _ _ soft limit _ <<<"$line"
    [ "$limit" = "$hard" ] || fail "the decoding child's hard address-space limit is $limit, not $hard"
    [ "$soft" = unlimited ] || [ "$soft" -ge "$hard" ] || break
    sleep 0.05
  done
  [ -n "$soft" ] && [ "$soft" != unlimited ] && [ "$soft" -lt "$hard" ] ||
    fail "the decoding child's address space was limited to ${soft:-?} bytes, not below the $hard of the user"
  main_window
  closes_with_0 "under the address-space limit"
  all_loaded aslimit

  # A hard limit of 1 GiB is too little to run in: each GL rasteriser thread
  # reserves a malloc arena of 64 MiB. Threads and arenas follow the processors (with few
  # the program fits, with many the driver crashes), so both are set as 8 processors have them.
  # Where memory runs out varies from run to run, as the scheduler orders
  # the threads' arenas and stacks and the decoder's segments: mostly in the
  # driver's shader compiler, whose std::bad_alloc reaches the program while
  # it opens its window and builds its scene, sometimes only in the first
  # frames, while it runs. Either way the program names it in its last line
  # and ends with status 1. Now and then the driver's own C code finds no
  # memory first and crashes (SIGSEGV), or LLVM aborts with its own "LLVM
  # ERROR: out of memory", before the program can say a word: such a run
  # shows nothing of the program and is started again, up to five times.
  # The shader cache, kept warm by the run above, is part of what start-up
  # needs: compiling every shader afresh, the driver runs out first.
  limited+="one too small to run in is named; "
  for attempt in 1 2 3 4 5; do
    start nomemory "$work/plain" "-v $((1 << 20))" env LP_NUM_THREADS=8 GLIBC_TUNABLES=glibc.malloc.arena_max=64 \
      XDG_CACHE_HOME="$work/cache"
    exit_status
    [ "$status" -eq 139 ] || { [ "$status" -eq 134 ] && grep -qx "LLVM ERROR: out of memory" "$work/nomemory.txt"; } ||
      break
  done
  [ "$status" -eq 1 ] || fail "exit status $status when out of memory, not 1"
  last="$(tail -n 1 "$work/nomemory.txt")"
  [ "$last" = "Velmorin ran out of memory while opening its window and building its scene" ] ||
    [ "$last" = "Velmorin ran out of memory while running" ] ||
    fail "out of memory, the last line \"$last\" does not say so"
fi

# The program killed while its logo is decoded: every process of its group
# and the decoding child end with it, within a second.
start killed "$work/slow" ""
wait_until "no decoding child appeared" decoding_child
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
pid=""
deadline=$(($(date +%s%N) + 1000000000))
while group_has '^[^Z]' || runs "$child"; do
  [ "$(date +%s%N)" -lt "$deadline" ] ||
    fail "processes of the killed program run on: $(group_line), decoding child $child"
  sleep 0.05
done

echo "PASS: with SIGCHLD ignored, a file-size limit of 100 or 1000 KiB or 16 descriptors the program" \
  "starts and loads every picture; with its standard streams closed it runs; ${limited}killed while" \
  "decoding, it leaves no process running; a killed decoder process leaves no zombie"
