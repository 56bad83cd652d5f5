#!/usr/bin/env bash
# The sanitizer build of the program, run headless for a while with a watched process to pin, then
# stopped with SIGTERM: it must end with status 0 and LeakSanitizer must find nothing.
# Usage: leak_check.sh PROGRAM SECONDS
set -uo pipefail
program=$1
seconds=${2:-60}
work=$(mktemp -d /tmp/mavrin-leak-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

mkdir -p "$work/runtime"
cp /bin/sleep "$work/pinned"
"$work/pinned" $((seconds + 30)) &
pids+=($!)
printf '[MAV_RIN]\n001_process_path=%s\n001_affinity_mask=1\n002_process_path=/nowhere/else\n002_affinity_mask=2\n' \
  "$(tr 'A-Z' 'a-z' <<<"$work/pinned")" >"$work/mavrin.ini"

(
  cd "$work" || exit 127
  unset DISPLAY WAYLAND_DISPLAY
  export XDG_RUNTIME_DIR=$work/runtime MAVRIN_INSTANCE_DIR=$work/runtime
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=23
  export LSAN_OPTIONS=exitcode=23
  exec "$program" >"$work/out.txt" 2>"$work/err.txt"
) &
program_pid=$!
pids+=("$program_pid")

sleep "$seconds"
kill -TERM "$program_pid"
status=
for _ in $(seq 1 300); do
  if ! kill -0 "$program_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
wait "$program_pid"
status=$?

failed=0
if [[ $status -ne 0 ]]; then
  echo "the program ended with status $status"
  failed=1
fi
if grep -qE 'LeakSanitizer|AddressSanitizer|runtime error' "$work/err.txt"; then
  echo "sanitizer report:"
  cat "$work/err.txt"
  failed=1
fi
if ! grep -q 'observing' "$work/out.txt"; then
  echo "the program never observed"
  failed=1
fi
ticks=$(grep -c '^observing' "$work/out.txt")
records=$(wc -l <"$work/mavrin.log" 2>/dev/null || echo 0)
echo "leak check: ${seconds}s, $ticks ticks, $records log records, exit status $status"
exit $failed
