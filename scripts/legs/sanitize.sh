#!/usr/bin/env bash
# Sanitizer leg: the whole test suite (fuzz corpus replays included) built with clang under
# ASan and UBSan, run by CTest; any report, leak included, fails its test.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build clang libclang-rt-14-dev libgtest-dev libgmock-dev pkgconf nlohmann-json3-dev

CC=clang CXX=clang++ cmake -S . -B build/asan -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZAM_SANITIZER=address,undefined
cmake --build build/asan -j2
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/asan --output-on-failure -j2
