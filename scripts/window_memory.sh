#!/usr/bin/env bash
# Measures the windowed ZuvoBox's resident memory under a flood of box reports: the
# simulated box's speed pot is turned every 10 ms (one Keyer Pot Speed report and one
# verbose log line each, 100 lines a second) with "Verbose Output" on, for SECONDS
# (default 120). Runs offscreen; prints one "seconds rss_kib" line every 10 s and the
# growth rate over the second half of the run: the log list fills during the first
# 20,000-odd lines (about 220 s), so only a run of 8 minutes or more shows the steady state.
# Usage: scripts/window_memory.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
seconds=${1:-120}
build=${2:-build/release}
bin="$build/src/app/ZuvoBox"
work=$(mktemp -d)
chmod 700 "$work"
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
printf '[Box]\nVerbose=TRUE\n' >"$work/ZuvoBox.ini"
XDG_RUNTIME_DIR="$work" ZUVOBOX_LOCK_DIR="$work" QT_QPA_PLATFORM=offscreen "$bin" --simulate --ini "$work/ZuvoBox.ini" \
  --sim-control "$work/control" >/dev/null 2>&1 &
pid=$!
while [ ! -p "$work/control" ]; do sleep 0.1; done
rss() { awk '/VmRSS/ {print $2}' "/proc/$pid/status"; }
python3 - "$work/control" "$seconds" <<'PY' &
import sys, time
path, seconds = sys.argv[1], float(sys.argv[2])
with open(path, "w", buffering=1) as fifo:
    end = time.monotonic() + seconds
    next_at = time.monotonic()
    pot = 20
    while time.monotonic() < end:
        pot = 41 - pot  # 20, 21, 20, ...
        fifo.write(f"pot {pot}\n")
        next_at += 0.01
        time.sleep(max(0.0, next_at - time.monotonic()))
PY
driver=$!
sleep 2
start=$(rss)
half=$start
echo "0 $start"
for ((t = 10; t <= seconds; t += 10)); do
  sleep 10
  now=$(rss)
  echo "$t $now"
  if ((t == seconds / 20 * 10)); then half=$now; fi
done
wait "$driver"
end=$(rss)
awk -v s="$start" -v h="$half" -v e="$end" -v t="$seconds" 'BEGIN {
  rate = (e - h) * 60 / (t - int(t / 20) * 10)
  printf "growth over the second half: %.0f KiB per minute; projected after one hour: %.1f MiB\n", rate, (e + rate * (60 - t / 60)) / 1024
}'
kill -TERM "$pid"
wait "$pid" || true
