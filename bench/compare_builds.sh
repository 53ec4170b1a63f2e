#!/usr/bin/env bash
# Compares build directories against a reference build: first that the I/Q file, the read-out
# log and the chart bitmap of a few batch runs are byte-identical, then the speed, alternating
# the builds (order rotated each round, for a machine shared with others) between the chain
# benchmark (CPU ns per block of 128 frames) and quorvelle-batch on a 600 s WAV (user + system
# CPU s). Prints medians, spreads and the median of the per-round ratios to the reference.
# Each build needs quorvelle-batch, quorvelle-sim and quorvelle_bench.
# Usage: bench/compare_builds.sh [-r ROUNDS] REFERENCE_BUILD BUILD...
set -euo pipefail
rounds=7
if [ "${1:-}" = -r ]; then rounds=$2; shift 2; fi
[ $# -ge 2 ] || { sed -n '2,8p' "$0"; exit 2; }
golden=$(cd "$(dirname "$0")/../../shared/golden" 2>/dev/null && pwd || true)
builds=(); for b in "$@"; do builds+=("$(cd "$b" && pwd)"); done
work=$(mktemp -d /tmp/quorvelle-compare-XXXXXX)
trap 'rm -rf "$work"' EXIT
"${builds[0]}/quorvelle-sim" --seconds 600 --ppm -23 --seed 7 "$work/600s.wav" >/dev/null

runs=("--simulate 600 --ppm 37" "--simulate 300 --ppm -61 --offset 0.3 --invert --no-blank"
      "$work/600s.wav")
[ -n "$golden" ] && [ -f "$golden/pps50.wav" ] && runs+=("$golden/pps50.wav")
same=yes
for i in "${!builds[@]}"; do
    mkdir -p "$work/out$i"
    for j in "${!runs[@]}"; do
        # shellcheck disable=SC2086
        (cd "$work/out$i" && "${builds[$i]}/quorvelle-batch" --quiet --iq-file "$j.txt" \
            --log "$j.log" --chart "$j.bmp" ${runs[$j]} >/dev/null)
    done
    if [ "$i" -gt 0 ] && ! diff -rq "$work/out0" "$work/out$i"; then same=no; fi
done
echo "outputs identical: $same (${#runs[@]} runs, I/Q file, read-out log and chart each)"

n=${#builds[@]}
for r in $(seq 1 "$rounds"); do
    for k in $(seq 0 $((n - 1))); do
        i=$(((k + r) % n)); b=${builds[$i]}
        ns=$("$b/quorvelle_bench" --benchmark_filter='ChainPerFrame/offset_0/' \
            --benchmark_format=csv 2>/dev/null | awk -F, '/^"BM_ChainPerFrame/ {print $4}')
        cpu=$({ /usr/bin/time -f '%U %S' "$b/quorvelle-batch" --quiet "$work/600s.wav" \
            >/dev/null; } 2>&1 | awk '{print $1 + $2}')
        echo "$i $r $ns $cpu" >>"$work/times"
    done
done
awk -v n="$n" -v names="$*" '
    function median(a, m,   s, k, t) { for (k = 1; k <= m; k++) s[k] = a[k]
        for (k = 2; k <= m; k++) for (t = k; t > 1 && s[t - 1] > s[t]; t--) {
            x = s[t]; s[t] = s[t - 1]; s[t - 1] = x }
        return m % 2 ? s[(m + 1) / 2] : (s[m / 2] + s[m / 2 + 1]) / 2 }
    { ns[$1, $2] = $3; cpu[$1, $2] = $4; if ($2 > rounds) rounds = $2 }
    END {
        split(names, name, " ")
        printf "%-28s %9s %15s %8s %9s %11s %8s\n", "build", "ns/block", "min..max", "ratio",
            "batch s", "min..max", "ratio"
        for (i = 0; i < n; i++) {
            lo = hi = ns[i, 1]; clo = chi = cpu[i, 1]
            for (r = 1; r <= rounds; r++) {
                a[r] = ns[i, r]; c[r] = cpu[i, r]
                ra[r] = ns[0, r] / ns[i, r]; rc[r] = cpu[0, r] / cpu[i, r]
                if (a[r] < lo) lo = a[r]; if (a[r] > hi) hi = a[r]
                if (c[r] < clo) clo = c[r]; if (c[r] > chi) chi = c[r]
            }
            printf "%-28s %9.0f %7.0f..%-7.0f %8.3f %9.2f %5.2f..%-5.2f %8.3f\n", name[i + 1],
                median(a, rounds), lo, hi, median(ra, rounds), median(c, rounds), clo, chi,
                median(rc, rounds)
        }
        print "ratio: median over the rounds of reference time / build time (> 1: faster)"
    }' "$work/times"
