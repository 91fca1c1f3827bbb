#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a fixed, deterministic budget:
# the same seed and the same number of executions each time, so that a
# finding never depends on luck. New inputs go to a scratch folder; the saved
# corpus is only read.
#
#   tests/fuzz/run.sh [BUILD_DIR] [SCALE]    defaults: build/fuzz 1
#
# Each target gets its own number of executions, about a minute's worth under
# the sanitizers on a 2-core machine (conversion's inputs often name gaiji
# tables, whose 64K-code pages cost milliseconds each under the sanitizers,
# so it gets fewer); SCALE multiplies them all.
#
# To fuzz longer, run a target by hand, e.g.
#   build/fuzz/tests/fuzz/fuzz_jis -max_total_time=600 /tmp/new tests/fuzz/corpus/jis
# and add what it finds to tests/fuzz/corpus/jis when it is worth keeping.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/fuzz}
scale=${2:-1}
declare -A budget=([format]=600000 [conversion]=100000 [ebcdic]=3000000 [decimal]=3000000 [jis]=2000000
                   [keis]=2000000 [jef]=2000000 [inspect]=20000
                   [copybook]=400000 [gaiji]=200000)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "$build"/tests/fuzz/fuzz_*; do
    name=${target##*/fuzz_}
    mkdir -p "$scratch/$name"
    log="$scratch/$name.log"
    runs=$(( ${budget[$name]:-1000000} * scale ))
    # A crash or a failed check makes the target exit non-zero.
    if "$target" -seed=1 -runs="$runs" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$scratch/$name-" "$scratch/$name" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
        echo "$name: ok, $runs runs, $(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$') runs/s"
    else
        echo "$name: FAILED"
        tail -n 40 "$log"
        for crash in "$scratch/$name"-*; do [ -f "$crash" ] && od -A x -t x1z "$crash" | head -n 20; done
        status=1
    fi
done
exit $status
