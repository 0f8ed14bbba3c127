#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time, starting from its committed inputs
# (fuzz/corpus/<target>/). The fuzzer works on a temporary copy, so the repository never gets
# new files; an input that breaks a target is kept in the build folder and named at the end.
#
#   scripts/fuzz.sh FUZZ_BUILD_FOLDER [SECONDS_EACH] [TARGETS_AT_ONCE]
set -euo pipefail

build=$1
seconds=${2:-60}
jobs=${3:-$(nproc)}
source=$(cd "$(dirname "$0")/.." && pwd)
found="$build/fuzz/findings"
mkdir -p "$found"
# Qt has no frame pointers: stacks of allocations made through it come out different every time
# and ASan keeps each one, so memory grows without end. Two frames keep it flat; an input that
# breaks a target, run again by hand, shows the whole stack.
export ASAN_OPTIONS="malloc_context_size=2${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
work=$(mktemp -d "${TMPDIR:-/tmp}/velrisa-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

run_one() {
    local target=$1
    mkdir -p "$work/$target"
    cp "$source/fuzz/corpus/$target/"* "$work/$target/"
    # -timeout: one input that takes this long counts as a hang, and a hang is a fault.
    local status=0
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$found/$target-" "$work/$target" >"$work/$target.log" 2>&1 || status=$?
    echo "$status" >"$work/$target.status"
}

targets=()
for f in "$source"/fuzz/corpus/*/; do
    targets+=("$(basename "$f")")
done
echo "Fuzzing ${#targets[@]} targets, $seconds s each, $jobs at a time"

failed=0
report() {
    local target=$1 status
    status=$(cat "$work/$target.status")
    local execs cover
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target.log")
    cover=$(grep -o 'cov: [0-9]*' "$work/$target.log" | tail -1 || true)
    if [ "$status" -eq 0 ]; then
        echo "  $target: ${execs:-?} inputs, $cover, nothing found"
    else
        failed=1
        echo "  $target: FAULT (exit $status); the input is in $found/"
        grep -E 'no se cumple|ERROR:|runtime error|SUMMARY' "$work/$target.log" | head -5 | sed 's/^/    /'
    fi
}
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n || true
    done
    run_one "$target" &
done
wait
for target in "${targets[@]}"; do
    report "$target"
done
exit $failed
