#!/usr/bin/env bash
# make-initramfs.sh ROOT GEN_INIT_CPIO BUSYBOX-DIR OUTPUT: completes ROOT (a DESTDIR install of
# the library, programs, stand-ins and test bundle under /usr) into the board test's root file
# system, with the target's shared libraries, BusyBox and /init, and writes it to OUTPUT as a
# gzipped newc cpio made by the kernel's gen_init_cpio (device nodes need no privileges there).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$1 gen_init_cpio=$2 busybox_dir=$3 output=$4
sysroot_lib=/usr/powerpc-linux-gnu/lib

mkdir -p "$root"/{bin,sbin,lib,proc,sys,dev,tmp,run,usr/bin,usr/sbin}
install -m 0755 "$busybox_dir/busybox" "$root/bin/busybox"
while read -r applet; do
    # -L too: a link made by an earlier run points at /bin/busybox, not there on this machine.
    [ -e "$root$applet" ] || [ -L "$root$applet" ] || ln -s /bin/busybox "$root$applet"
done <"$busybox_dir/busybox.links"
install -m 0755 "$here/init" "$root/init"

# The shared libraries every ELF file in ROOT needs, and what those need in turn, from the
# cross toolchain's tree; the dynamic loader is named by the programs' interpreter.
needed_by() {
    powerpc-linux-gnu-readelf -d "$1" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}
queue=()
while IFS= read -r -d '' file; do
    if head -c4 "$file" | grep -q 'ELF'; then queue+=("$file"); fi
done < <(find "$root" -type f -print0)
queue+=("$sysroot_lib/ld.so.1")
declare -A copied=()
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for lib in $(needed_by "$file"); do
        [ -z "${copied[$lib]:-}" ] || continue
        copied[$lib]=1
        # Libraries of our own install are already in ROOT.
        if find "$root/usr" -name "$lib" | grep -q .; then continue; fi
        [ -e "$sysroot_lib/$lib" ] || { echo "initramfs: $lib not in $sysroot_lib" >&2; exit 1; }
        cp -L "$sysroot_lib/$lib" "$root/lib/$lib"
        queue+=("$root/lib/$lib")
    done
done
cp -L "$sysroot_lib/ld.so.1" "$root/lib/ld.so.1"
powerpc-linux-gnu-strip --strip-unneeded "$root"/lib/*.so* 2>/dev/null || true

# gen_init_cpio's list: every directory, file and link of ROOT as root:root, and the console.
list=$output.list
{
    echo "dir /dev 0755 0 0"
    echo "nod /dev/console 0600 0 0 c 5 1"
    (cd "$root" && find . -mindepth 1 ! -path ./dev) | sort | while read -r path; do
        name=${path#.}
        full=$root$name
        mode=$(stat -c %a "$full")
        if [ -L "$full" ]; then
            echo "slink $name $(readlink "$full") 0777 0 0"
        elif [ -d "$full" ]; then
            echo "dir $name $mode 0 0"
        elif [ -f "$full" ]; then
            echo "file $name $full $mode 0 0"
        fi
    done
} >"$list"
"$gen_init_cpio" "$list" | gzip -6 >"$output"
