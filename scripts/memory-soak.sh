#!/bin/bash
# Runs the program headless for FRAMES frames (default 20000) on the data set in DATA
# (default data/) and checks that its resident memory stays flat: at most 2 MiB of growth
# between the first second (about a hundred frames) and the end.
# Usage: scripts/memory-soak.sh [FRAMES] [DATA]
set -u
frames=${1:-20000}
data=${2:-data}
program=${FERROWALK:-build/release/app/ferrowalk}
[ -x "$program" ] || { echo "build the program first ($program)"; exit 2; }

"$program" --data "$data" --headless --frames "$frames" --fixed-dt 0.016 2>/dev/null &
pid=$!
sleep 1
first=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status")
last=$first
peak=$first
while kill -0 "$pid" 2>/dev/null; do
    rss=$(awk '/VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null) || break
    [ -n "$rss" ] && last=$rss && [ "$rss" -gt "$peak" ] && peak=$rss
    sleep 1
done
wait "$pid" || { echo "the program failed"; exit 1; }
echo "resident memory: ${first} KiB after the first second, ${last} KiB at the end, ${peak} KiB at most"
[ $((peak - first)) -le 2048 ] || { echo "grew by $((peak - first)) KiB"; exit 1; }
