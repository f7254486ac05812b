#!/usr/bin/env bash
# build-kernel.sh CACHE-DIR: cross-builds the board test's kernel (32-bit big-endian e500mc,
# allnoconfig + scripts/kernel/zam.config) from the distribution's linux-source-6.1 and prints
# the path of the built tree's directory (vmlinux and usr/gen_init_cpio in it). The tree and
# the kernel are kept in CACHE-DIR under a key made of the source package's version, the
# fragment and this script, so a second run with nothing changed builds nothing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
source_tar=/usr/src/linux-source-6.1.tar.xz
fragment=$here/zam.config
make_args=(ARCH=powerpc CROSS_COMPILE=powerpc-linux-gnu-)

version=$(dpkg-query -W -f='${Version}' linux-source-6.1)
key=$( (echo "$version" && cat "$fragment" "$0") | sha256sum | cut -c1-16)
dir=$cache/linux-$key
if [ -f "$dir/built" ]; then
    echo "$dir/obj"
    exit 0
fi

rm -rf "$dir"
mkdir -p "$dir/obj"
echo "kernel: unpacking linux-source $version into $dir" >&2
tar -xJf "$source_tar" -C "$dir"
src=$(echo "$dir"/linux-source-*)
make -s -C "$src" "${make_args[@]}" O="$dir/obj" KCONFIG_ALLCONFIG="$fragment" allnoconfig >&2

# Kconfig drops an option whose dependencies are not met without a word: every option the
# fragment asks for must have made it into the configuration.
missing=0
while read -r option; do
    if ! grep -qx "$option" "$dir/obj/.config"; then
        echo "kernel: $option from zam.config did not make it into .config" >&2
        missing=1
    fi
done < <(grep -E '^CONFIG_[A-Z0-9_]+=y$' "$fragment")
[ "$missing" -eq 0 ]

echo "kernel: building vmlinux (log: $dir/build.log)" >&2
start=$SECONDS
if ! nice -n 10 make -C "$src" "${make_args[@]}" O="$dir/obj" -j2 vmlinux >"$dir/build.log" 2>&1; then
    tail -40 "$dir/build.log" >&2
    exit 1
fi
echo "kernel: built in $((SECONDS - start)) s" >&2
touch "$dir/built"
echo "$dir/obj"
