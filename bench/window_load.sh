#!/usr/bin/env bash
# The window's load while it captures in real time from the simulator: CPU share of one core
# over a measured stretch, and how promptly capture blocks were handled (from the closing
# CAPTURE line of the read-out log). Runs its own Xvfb. Usage: bench/window_load.sh [BUILD_DIR]
# [SECONDS]
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
work=$(mktemp -d /tmp/quorvelle-load-XXXXXX)
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

cd "$work"
"$build_dir/quorvelle" --simulate --ppm 25 --log-readouts "$work/log.tsv" 2>"$work/err" &
app=$!
window=$(timeout 20 xdotool search --sync --name '^GPS QuorVelle$' | head -1)
xdotool mousemove --window "$window" 347 177 click 1  # Start
sleep 5                                                # settle

ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks); s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks); s1=$(date +%s.%N)
xdotool mousemove --window "$window" 397 177 click 1  # End
wait $app || true

awk -v t="$((t1 - t0))" -v hz="$hz" -v s0="$s0" -v s1="$s1" \
    'BEGIN { printf "window process CPU: %.2f %% of one core over %.1f s\n", 100 * t / hz / (s1 - s0), s1 - s0 }'
grep 'capture ended' "$work/log.tsv" | cut -f3
