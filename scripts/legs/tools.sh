#!/usr/bin/env bash
# Tools leg: the programs built like any application. The library is installed into a
# temporary prefix, tools/ is built on its own against that package and installed beside it,
# and the installed programs run as installed (their run paths find the libraries, no
# LD_LIBRARY_PATH). Their manual pages pass mandoc's lint, and the demo, run 20 times on the
# installed programs, prints the same transcript every time.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ mandoc
unset LD_LIBRARY_PATH

work=$(mktemp -d "${TMPDIR:-/tmp}/zam-tools.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
runs=20

fail() {
    echo "tools: $*" >&2
    exit 1
}

# The programs name nothing of the IPC stand-in beyond the platform interface.
if grep -nE 'IpcStatus|IpcState|ZAMIPC_|EndpointIo|FifoIo|sputn|Overwrite|IntegerSize|StringParamOverhead' \
    tools/*.cpp tools/*.h; then
    fail "the programs above use names the board's IPC library does not have"
fi

echo "-- library installed into a temporary prefix"
cmake -S . -B build/tools-lib -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAM_WARNINGS_AS_ERRORS=ON \
    -DZAM_BUILD_TESTS=OFF -DZAM_BUILD_TOOLS=OFF >/dev/null
cmake --build build/tools-lib
cmake --install build/tools-lib --prefix "$prefix" >/dev/null
cmake --install build/tools-lib --prefix "$prefix" --component stand-ins >/dev/null

echo "-- tools/ built on its own against the installed package"
cmake -S tools -B "$work/tools-build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build "$work/tools-build"
cmake --install "$work/tools-build" --prefix "$prefix" >/dev/null

echo "-- installed programs run as installed"
for program in tarvexmux-server tarvexmux-client; do
    version=$("$prefix/bin/$program" --version) || fail "$program --version failed"
    [[ $version == "$program (libZamTarvexMuxMsg) "* ]] || fail "$program --version printed: $version"
    echo "$version"
done

echo "-- manual pages"
pages=("$prefix"/share/man/man1/tarvexmux-server.1 "$prefix"/share/man/man1/tarvexmux-client.1)
for page in "${pages[@]}"; do
    [ -f "$page" ] || fail "not installed: $page"
done
mandoc -Tlint "${pages[@]}"
echo "mandoc -Tlint: clean"

echo "-- the demo $runs times on the installed programs"
ZAM_DEMO_BIN="$prefix/bin" scripts/demo >"$work/first.txt"
for ((run = 2; run <= runs; run++)); do
    ZAM_DEMO_BIN="$prefix/bin" scripts/demo >"$work/again.txt"
    if ! diff -u "$work/first.txt" "$work/again.txt" >&2; then
        fail "run $run of the demo printed another transcript (diff above)"
    fi
done
echo "$runs identical transcripts of $(wc -l <"$work/first.txt") lines"
