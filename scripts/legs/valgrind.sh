#!/usr/bin/env bash
# Valgrind leg: the host test suite (fuzz corpus replays included) under memcheck; any error
# or definite/indirect leak, in a test or in a child it forks or execs, fails the test.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ valgrind libgtest-dev libgmock-dev pkgconf nlohmann-json3-dev

cmake -S . -B build/valgrind -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/valgrind -j2

# Children exec'd from system programs and the command-line programs (whose tests bound
# their run time to 1 s) are not checked here; the sanitizer leg covers the programs.
options="--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
 --track-fds=no --trace-children=yes --trace-children-skip=/bin/*,/usr/bin/*,*/tarvexmux-*
 --child-silent-after-fork=no --num-callers=30"
status=0
ctest --test-dir build/valgrind -T memcheck -j2 \
    --overwrite MemoryCheckCommand="$(command -v valgrind)" \
    --overwrite MemoryCheckCommandOptions="$(echo $options)" --output-on-failure || status=$?
# The memcheck logs of failed tests: CTest keeps valgrind's output there.
if [ "$status" -ne 0 ]; then
    grep -l -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]|indirectly lost: [1-9]' \
        build/valgrind/Testing/Temporary/MemoryChecker.*.log 2>/dev/null | while read -r log; do
        echo "== $log"
        head -60 "$log"
    done
fi
exit "$status"
