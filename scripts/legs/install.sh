#!/usr/bin/env bash
# Install leg: installs into a temporary prefix, then builds and runs a small application
# against it once with find_package and once with pkg-config.
set -euo pipefail
scripts/deps cmake ninja-build g++ pkgconf
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake -S . -B build/install -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=Release -DZAM_BUILD_TESTS=OFF \
    -DZAM_BUILD_TOOLS=OFF -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build build/install
cmake --install build/install >/dev/null
libdir=$(ls -d "$prefix"/lib*/ | head -n 1)

echo "-- find_package(ZamTarvexMuxMsg)"
cmake -S tests/consumer -B "$prefix/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
LD_LIBRARY_PATH="$libdir" "$prefix/consumer/consumer"

echo "-- pkg-config ZamTarvexMuxMsg"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
g++ -std=c++17 tests/consumer/consumer.cpp -o "$prefix/consumer-pc" \
    $(pkg-config --cflags --libs ZamTarvexMuxMsg)
LD_LIBRARY_PATH="$libdir" "$prefix/consumer-pc"
