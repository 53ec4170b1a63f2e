#!/usr/bin/env bash
# Peak memory of quorvelle-batch --daily over 1, 2 and 3 stream days of the simulator: the
# largest resident set of each run (GNU time's %M) and its length. A station's peak should not
# grow with the days it has run. Takes some minutes a day.
# Usage: bench/daily_memory.sh [BUILD_DIR [DAYS...]]
set -euo pipefail
build_dir=$(cd "${1:-build}" && pwd)
shift || true
[ $# -gt 0 ] || set -- 1 2 3
[ -x /usr/bin/time ] || { echo "daily_memory.sh needs GNU time (/usr/bin/time)"; exit 1; }
work=$(mktemp -d /tmp/quorvelle-daily-XXXXXX)
trap 'rm -rf "$work"' EXIT

for n in "$@"; do
    /usr/bin/time -o "$work/time" -f '%M %e' "$build_dir/quorvelle-batch" --quiet \
        --simulate $((n * 86400)) --daily "$work/days$n" >"$work/out" 2>"$work/err" ||
        { echo "the run of $n day(s) failed:"; cat "$work/err"; exit 1; }
    read -r peak seconds <"$work/time"
    echo "$n day(s): peak resident $((peak / 1024)) MB, $seconds s"
    rm -rf "$work/days$n"
done
