#!/usr/bin/env bash
# Platform leg: the library, its programs and the tests that hold for any IPC library, built
# with ZAM_USE_PLATFORM_LIBS=ON over the test platform (tests/platform: another byte order,
# string encoding, enumerator names, statuses and idle state than our stand-ins). Then the
# install as a board has it, the platform's libraries and ours in one prefix and the build
# machine's paths gone, used by an application through find_package and pkg-config.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ libgtest-dev libgmock-dev pkgconf

work=$(mktemp -d "${TMPDIR:-/tmp}/zam-platform.XXXXXX")
trap 'rm -rf "$work"' EXIT
machine=$work/build-machine # the board team's build machine
board=$work/board/usr       # the board's root file system

cmake -S tests/platform -B "$machine/platform-build" -G Ninja >/dev/null
cmake --build "$machine/platform-build" >/dev/null
cmake --install "$machine/platform-build" --prefix "$machine/platform" >/dev/null

cmake -S . -B "$machine/build" -G Ninja -DZAM_USE_PLATFORM_LIBS=ON \
    -DCMAKE_PREFIX_PATH="$machine/platform" -DZAM_BUILD_TESTS=ON -DZAM_WARNINGS_AS_ERRORS=ON \
    -DZAM_PLATFORM_FRAMES="$PWD/tests/platform/frames.hex" >/dev/null
cmake --build "$machine/build"
ctest --test-dir "$machine/build" --output-on-failure

cmake --install "$machine/build" --prefix "$board" >/dev/null
cp -a "$machine/platform/." "$board/"
rm -rf "$machine"
if grep -rl "$machine" "$board" ; then
    echo "platform: the installed files above name the build machine's paths" >&2
    exit 1
fi

echo "-- find_package(ZamTarvexMuxMsg) on the board"
cmake -S tests/consumer -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$board" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer"

echo "-- pkg-config ZamTarvexMuxMsg on the board"
export PKG_CONFIG_PATH="$board/lib/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 tests/consumer/consumer.cpp -o "$work/consumer-pc" \
    $(pkg-config --cflags --libs ZamTarvexMuxMsg) -Wl,-rpath,"$board/lib"
"$work/consumer-pc"
