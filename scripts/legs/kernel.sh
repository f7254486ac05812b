#!/usr/bin/env bash
# Kernel leg: boots a real 32-bit big-endian PowerPC Linux kernel under qemu-system-ppc and runs
# the installed test bundle (run-ptest) in it, so the tests meet the target kernel's system
# calls (FIFOs, pipes, locks, poll, signals, time) instead of the build machine's, which is all
# the ppc leg's qemu-ppc user mode can offer.
# Machine: -M ppce500 -cpu e500mc. It boots -kernel directly with a device tree of its own, and
# e500mc has the classic FPU that the distribution's powerpc userland is built for (e500v2's SPE
# would not run it); mac99 would need firmware and a larger, driver-heavy kernel.
# The kernel, BusyBox and the PowerPC build are kept under build/kernel (ZAM_KERNEL_BUILD names
# another directory), so a second run only reinstalls, repacks and boots.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build make gcc libc6-dev g++-powerpc-linux-gnu googletest qemu-system-ppc \
    linux-source-6.1 bc flex bison libssl-dev libelf-dev dpkg-dev xz-utils bzip2 gzip

cache=${ZAM_KERNEL_BUILD:-build/kernel}
ppc_build=$cache/ppc
boot_limit=${ZAM_KERNEL_TIMEOUT:-900} # seconds for the boot and every test
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
log=$cache/console.log

start=$SECONDS
kernel_dir=$(scripts/kernel/build-kernel.sh "$cache")
busybox_dir=$(scripts/kernel/build-busybox.sh "$cache")
echo "kernel: kernel and BusyBox ready in $((SECONDS - start)) s"

if [ ! -f "$ppc_build/CMakeCache.txt" ]; then
    cmake -S . -B "$ppc_build" -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/powerpc-linux-gnu.cmake" \
        -DZAM_BUILD_TESTS=ON -DZAM_BUILD_TOOLS=ON -DZAM_INSTALL_TESTS=ON
fi
nice -n 10 cmake --build "$ppc_build" -j2

root=$cache/root
rm -rf "$root"
for component in runtime stand-ins ptest; do
    DESTDIR=$root cmake --install "$ppc_build" --prefix /usr --strip --component "$component" \
        >/dev/null
done
initramfs=$cache/initramfs.cpio.gz
scripts/kernel/make-initramfs.sh "$root" "$kernel_dir/usr/gen_init_cpio" "$busybox_dir" "$initramfs"
echo "kernel: test bundle $(du -sh "$root/usr/libexec/ZamTarvexMuxMsg/ptest" | cut -f1)," \
    "root file system $(du -sh "$root" | cut -f1), initramfs $(du -h "$initramfs" | cut -f1) gzipped"

qemu_pid=
cleanup() {
    if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
        kill "$qemu_pid" 2>/dev/null || true
        wait "$qemu_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

end_marker='^zam-board: run-ptest done, status='
boot_start=$SECONDS
: >"$log"
timeout "$boot_limit" qemu-system-ppc -M ppce500 -cpu e500mc -smp 1 -m 512 \
    -display none -monitor none -serial "file:$log" -no-reboot \
    -kernel "$kernel_dir/vmlinux" -initrd "$initramfs" \
    -append "console=ttyS0 panic=-1 quiet" </dev/null &
qemu_pid=$!
# The machine powers itself off after the marker; one that cannot is stopped 30 s later.
while kill -0 "$qemu_pid" 2>/dev/null; do
    if grep -q "$end_marker" "$log"; then
        for ((i = 0; i < 30; i++)); do
            kill -0 "$qemu_pid" 2>/dev/null || break
            sleep 1
        done
        break
    fi
    sleep 1
done
cleanup
qemu_pid=

grep -a '^zam-board: ' "$log"
grep -aE '^(PASS|FAIL|SKIP): ' "$log" || true
status=$(sed -n "s/${end_marker}\([0-9]*\).*/\1/p" "$log" | tr -d '\r')
passed=$(grep -ac '^PASS: ' "$log" || true)
failed=$(grep -ac '^FAIL: ' "$log" || true)
skipped=$(grep -ac '^SKIP: ' "$log" || true)
echo "kernel: boot and tests took $((SECONDS - boot_start)) s (console log: $log)"
if [ -z "$status" ]; then
    echo "kernel: no end marker within $boot_limit s; the console's last lines:" >&2
    tail -30 "$log" >&2
    exit 1
fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ]
