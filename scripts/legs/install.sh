#!/usr/bin/env bash
# Install leg: runs the README's commands as they stand, in a fresh copy of the checkout and
# with prefixes of its own in place of /opt/zam and /opt/zam-ppc: the Quick start's demo, the
# build and install, the installed program, the examples built with find_package and with
# pkg-config, the PowerPC cross-build, its tests under qemu, its install, and the examples
# cross-built against that. Every C++ snippet of the README and docs/ is compiled against the
# install. Then it runs what was installed as installed (no
# LD_LIBRARY_PATH): the example server and client together on the host and under qemu-ppc,
# checks the relative run paths, and prints the PowerPC footprint.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ pkgconf libgtest-dev libgmock-dev googletest \
    g++-powerpc-linux-gnu qemu-user binutils

readme=$PWD/README.md
work=$(mktemp -d "${TMPDIR:-/tmp}/zam-install.XXXXXX")
# The README's prefixes, replaced by the leg's own: a user's install there stays untouched.
prefixes=("$work/zam" "$work/zam-ppc")
server_pid=
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

source scripts/lib/readme.sh
clone=$work/checkout
fresh_copy "$clone"
readme_blocks install "$readme" "$clone"
sed -i "s#/opt/zam#$work/zam#g" "$clone/readme-install.sh"
echo "== the README's commands (/opt/zam read as $work/zam)"
sed 's/^/  | /' "$clone/readme-install.sh"
(cd "$clone" && bash -euxo pipefail readme-install.sh)

# Every C++ snippet of the README and docs/, compiled and linked against the install.
mkdir "$work/snippets"
cpp_snippets "$work/snippets" README.md docs/*.md
export PKG_CONFIG_PATH=$work/zam/lib/pkgconfig
for snippet in "$work"/snippets/*.cpp; do
    # shellcheck disable=SC2046
    g++ -std=c++17 -Wall -Wextra -Werror "$snippet" -o "${snippet%.cpp}" \
        $(pkg-config --cflags --libs ZamTarvexMuxMsg) ||
        { echo "install: the snippet from $(head -1 "$snippet" | cut -c4-) does not build" >&2; exit 1; }
done
echo "install: $(ls "$work"/snippets/*.cpp | wc -l) C++ snippets of README.md and docs/ build"

source scripts/lib/examples.sh
sysroot=/usr/powerpc-linux-gnu
run_pair host "$clone/build/examples/example-server" "$clone/build/examples/example-client"
run_pair host-pkg-config "$clone/build/examples/example-server" "$clone/example-client"
run_pair ppc "$clone/build/examples-ppc/example-server" "$clone/build/examples-ppc/example-client" \
    qemu-ppc -L "$sysroot"

# Relative run paths in what was installed.
expect_runpath() {
    local file=$1 want=$2 got
    got=$(readelf -d "$file" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
    [ "$got" = "$want" ] || { echo "install: $file: run path \"$got\", want \"$want\"" >&2; exit 1; }
}
for prefix in "${prefixes[@]}"; do
    for lib in libZamTarvexMuxMsg.so.1 libzamipc.so libdlog.so; do
        expect_runpath "$prefix/lib/$lib" '$ORIGIN'
    done
    for program in tarvexmux-server tarvexmux-client; do
        expect_runpath "$prefix/bin/$program" '$ORIGIN/../lib'
    done
done
echo "install: run paths relative in ${prefixes[*]}"

echo "== footprint: stripped on PowerPC, as installed (file bytes; text + data + bss loaded)"
thousands() { printf '%d' "$1" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
for lib in libZamTarvexMuxMsg.so.1 libzamipc.so libdlog.so; do
    powerpc-linux-gnu-strip -o "$work/$lib" "$work/zam-ppc/lib/$lib"
    read -r text data bss _ < <(powerpc-linux-gnu-size "$work/$lib" | tail -n 1)
    printf '| `%s` | %s B | %s B |\n' "$lib" "$(thousands "$(stat -c %s "$work/$lib")")" \
        "$(thousands $((text + data + bss)))" | tee -a "$work/footprint"
done
[ "$(grep -cxF -f "$work/footprint" docs/board.md)" -eq 3 ] ||
    echo "install: note: the footprint table in docs/board.md differs from these figures"
bytes=$(stat -c %s "$work/libZamTarvexMuxMsg.so.1")
if [ "$bytes" -gt 32768 ]; then
    echo "install: libZamTarvexMuxMsg.so.1 is $bytes B stripped, over 32 KiB" >&2
    exit 1
fi
