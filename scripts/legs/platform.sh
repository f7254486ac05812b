#!/usr/bin/env bash
# Platform leg: the library, its programs and the tests that hold for any IPC library, built
# with ZAM_USE_PLATFORM_LIBS=ON over the test platform (tests/platform: another byte order,
# string encoding, enumerator names, statuses and idle state than our stand-ins). Then the
# install as a board has it, the platform's libraries and ours in one prefix and the build
# machine's paths gone, used by the examples built with find_package and with pkg-config.
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

# The examples built on the board with find_package and with pkg-config, and run together.
server_pid=
trap '[ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
source scripts/lib/examples.sh
cmake -S examples -B "$work/examples" -G Ninja -DCMAKE_PREFIX_PATH="$board" >/dev/null
cmake --build "$work/examples" >/dev/null
export PKG_CONFIG_PATH="$board/lib/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 examples/example-client.cpp -o "$work/example-client" \
    $(pkg-config --cflags --libs ZamTarvexMuxMsg) -Wl,-rpath,"$board/lib"
run_pair board-find-package "$work/examples/example-server" "$work/examples/example-client"
run_pair board-pkg-config "$work/examples/example-server" "$work/example-client"
