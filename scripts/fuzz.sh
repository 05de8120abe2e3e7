#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on every line of the engine) and runs each for
# SECONDS (20 by default) from its seed corpus in fuzz/corpus, within the
# 32-bit program's limits: 512 MiB resident, 256 MiB in one allocation, 1 s an
# input (5 s for a whole merge). Any crash, leak, sanitizer report, out-of-memory or time-out fails it;
# the input that did it is left in build/fuzz/artifacts.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(reader_hex reader_srec reader_elf reader_uf2 reader_ti-txt layout merge map settings options spelling mcuboot)

scripts/setup.sh clang libclang-rt-14-dev
build=${BUILD_DIR:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERGEFILE_QT_MAJOR=6 \
    -DMERGEFILE_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

# AddressSanitizer keeps freed memory aside to catch its reuse, 256 MiB of it
# by default: not the program's own memory, so it is kept smaller here.
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=32:detect_leaks=1}
status=0
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    log="$build/fuzz_$target.log"
    mkdir -p "$work"
    # A merge of megabytes, written and read back, takes longer than a
    # reader's input.
    unit_timeout=1
    [ "$target" = merge ] && unit_timeout=5
    if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=512 -malloc_limit_mb=256 -timeout="$unit_timeout" \
           -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" \
           >"$log" 2>&1; then
        execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$target: $execs executions in $seconds s, nothing found"
    else
        echo "fuzz_$target: FAILED (the input is in $build/artifacts)"
        grep -v '^#' "$log" | tail -n 40
        status=1
    fi
done
exit "$status"
