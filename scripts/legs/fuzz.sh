#!/usr/bin/env bash
# Fuzz leg: libFuzzer binaries built with clang (coverage, ASan, UBSan), each run for a
# bounded time on a copy of its committed corpus. Prints the executions of each fuzzer and
# fails on any finding; findings are kept in build/fuzz/findings/<target>/ for the corpus.
# ZAM_FUZZ_SECONDS sets the time per fuzzer (default 60).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build clang libclang-rt-14-dev libgtest-dev libgmock-dev

seconds=${ZAM_FUZZ_SECONDS:-60}
targets=(fuzz_deserialize fuzz_string_param fuzz_server_reader fuzz_client_response fuzz_decode)

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZAM_FUZZ=ON -DZAM_SANITIZER=none
cmake --build build/fuzz -j2 --target "${targets[@]}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
    mkdir -p "$work/$target" build/fuzz/findings/$target
    cp fuzz/corpus/$target/* "$work/$target/"
    log=build/fuzz/findings/$target.log
    status=0
    build/fuzz/fuzz/$target -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target/" \
        "$work/$target" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ${runs:-?} executions (limit ${seconds} s), exit status $status"
    if [ "$status" -ne 0 ]; then
        failed+=("$target")
        grep -E 'ERROR|runtime error|check failed|Test unit written' "$log" | head -5 || true
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz findings in: ${failed[*]} (inputs and logs under build/fuzz/findings/)" >&2
    exit 1
fi
