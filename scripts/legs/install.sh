#!/usr/bin/env bash
# Install leg: runs the README's commands as they stand, in a fresh copy of the checkout: the
# Quick start's demo, the build and install into /opt/zam, the installed program, the
# examples built with find_package (from the README's CMake text) and with pkg-config, the
# PowerPC cross-build, its tests under qemu and its install into /opt/zam-ppc, and the
# examples cross-built against that. Then it runs what was installed as installed (no
# LD_LIBRARY_PATH): the example server and client together on the host and under qemu-ppc,
# checks the relative run paths, and prints the PowerPC footprint.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ pkgconf libgtest-dev libgmock-dev googletest \
    g++-powerpc-linux-gnu qemu-user binutils

readme=$PWD/README.md
prefixes=(/opt/zam /opt/zam-ppc)
work=$(mktemp -d "${TMPDIR:-/tmp}/zam-install.XXXXXX")
server_pid=
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    rm -rf "$work" "${prefixes[@]}"
}
for prefix in "${prefixes[@]}"; do
    if [ -e "$prefix" ] && [ ! -d "$prefix/lib/cmake/ZamTarvexMuxMsg" ]; then
        echo "install: $prefix exists and is not an install of this library; not touching it" >&2
        exit 1
    fi
done
trap cleanup EXIT
rm -rf "${prefixes[@]}"

# A fresh copy: the files git knows of, committed or not, without build trees.
clone=$work/checkout
mkdir "$clone"
git ls-files -z --cached --others --exclude-standard | tar --null -T - --ignore-failed-read -cf - |
    tar -xf - -C "$clone"

# The blocks after "<!-- leg:install -->": shell lines run in order (but scripts/test, which
# is what runs this leg), "file=PATH" blocks written to PATH first.
awk -v dir="$clone" '
    /^<!-- leg:install/ { tagged = 1; file = ""; if (match($0, /file=[^ ]+/)) file = substr($0, RSTART + 5, RLENGTH - 5); next }
    tagged && /^```/ && !inside { inside = 1; next }
    inside && /^```/ { inside = 0; tagged = 0; next }
    inside && file != "" { print > (dir "/" file); next }
    inside && $0 !~ /^scripts\/test/ { print > (dir "/readme-commands.sh") }
' "$readme"
echo "== the README's commands"
sed 's/^/  | /' "$clone/readme-commands.sh"
(cd "$clone" && bash -euxo pipefail readme-commands.sh)

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
    powerpc-linux-gnu-strip -o "$work/$lib" "/opt/zam-ppc/lib/$lib"
    read -r text data bss _ < <(powerpc-linux-gnu-size "$work/$lib" | tail -n 1)
    printf '| `%s` | %s B | %s B |\n' "$lib" "$(thousands "$(stat -c %s "$work/$lib")")" \
        "$(thousands $((text + data + bss)))" | tee -a "$work/footprint"
done
[ "$(grep -cxF -f "$work/footprint" "$readme")" -eq 3 ] ||
    echo "install: note: the README's footprint table differs from these figures"
bytes=$(stat -c %s "$work/libZamTarvexMuxMsg.so.1")
if [ "$bytes" -gt 32768 ]; then
    echo "install: libZamTarvexMuxMsg.so.1 is $bytes B stripped, over 32 KiB" >&2
    exit 1
fi
