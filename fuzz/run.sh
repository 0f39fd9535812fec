#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer
# on our code) and runs each for SECONDS seconds on its committed seed corpus:
#   fuzz/run.sh [SECONDS] [TARGET...]
# New corpus entries go to build/fuzz-corpus/<target>; crashes to fuzz/artifacts/.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
SECONDS_EACH=${1:-10}
shift || true
"$ROOT/scripts/setup.sh"
PATH="$ROOT/.venv/bin:$PATH"
BUILD="$ROOT/build/fuzz"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPIXMORF_BUILD_MODULE=OFF -DPIXMORF_BUILD_FUZZERS=ON -DPIXMORF_SANITIZE=address,undefined >/dev/null
cmake --build "$BUILD"
targets=("$@")
if ((${#targets[@]} == 0)); then
    for source in "$ROOT"/fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
mkdir -p "$ROOT/fuzz/artifacts"
for target in "${targets[@]}"; do
    work="$ROOT/build/fuzz-corpus/$target"
    seeds="$ROOT/fuzz/corpus/$target"
    mkdir -p "$work" "$seeds"
    echo "fuzz: $target for ${SECONDS_EACH}s" >&2
    log="$ROOT/build/fuzz-corpus/$target.log"
    status=0
    "$BUILD/fuzz/$target" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -timeout=20 \
        -artifact_prefix="$ROOT/fuzz/artifacts/$target-" -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1 ||
        status=$?
    grep -E "^(stat::number_of_executed_units|stat::new_units_added)" "$log" || true
    if ((status != 0)); then
        # A finding: the whole report (stack, artifact name) goes to the output.
        grep -v -E "^(#[0-9]+|INFO:|MS:|BINGO|NEW_FUNC)" "$log" >&2 || true
        echo "fuzz: $target failed with status $status (log: $log)" >&2
        exit "$status"
    fi
done
