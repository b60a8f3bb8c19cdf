#!/usr/bin/env bash
# End to end: started from another folder, the program works from its
# executable's folder when that holds the run directory; when neither folder
# does, it says which folder it needs and ends with a failure status.
set -euo pipefail

run_dir="$(cd "${1:?usage: rundir.sh RUN_DIR}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/velmorin.bash"

# A run directory of its own, in English: the binary copied (so that the
# executable's folder is this one), the resources linked.
mkdir -p "$work/elsewhere" "$work/lonely"
link_run_dir "$work/copy" 0 velmorin
cp "$run_dir/velmorin" "$work/copy/velmorin"
cp "$run_dir/velmorin" "$work/lonely/velmorin"

# 1. From another folder: the main window opens and closes normally.
(cd "$work/elsewhere" && exec ../copy/velmorin >"$work/elsewhere.txt" 2>&1) &
pid=$!
main_window
wait_for_sky
$xwin close "$window"
exit_status
[ "$status" -eq 0 ] || fail "exit status $status after starting from another folder"
grep -q "Cannot open" "$work/elsewhere.txt" && fail "resources were looked for in the wrong folder"

# 2. No run directory anywhere: one message naming the folder, status 1.
status=0
(cd "$work/elsewhere" && timeout 30 ../lonely/velmorin >"$work/lonely.txt" 2>&1) || status=$?
[ "$status" -eq 1 ] || fail "expected status 1 without a run directory, got $status"
grep -q "run directory" "$work/lonely.txt" || fail "the message does not say what is missing"
grep -qF "$work/lonely" "$work/lonely.txt" || fail "the message does not name the folder"
echo "PASS: started elsewhere it works from its own folder; without a run directory it says which folder it needs"
