#!/usr/bin/env bash
# Board leg: the README's board route as it stands, in a fresh copy of the checkout, over a
# PowerPC build of tests/platform installed as the board's sysroot (its own libzamipc and
# libdlog, another encoding than our stand-ins'). What the route stages must hold our library,
# the programs and the test bundle and no IPC or logging library; copied onto a board root
# (the C library, the sysroot's libraries, then the stage), the programs talk to each other
# and run-ptest passes under qemu-ppc.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++-powerpc-linux-gnu qemu-user googletest

work=$(mktemp -d "${TMPDIR:-/tmp}/zam-board.XXXXXX")
server_pid=
trap '[ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT
toolchain=$PWD/cmake/toolchains/powerpc-linux-gnu.cmake
export BOARD_SYSROOT=$work/sysroot

cmake -S tests/platform -B "$work/platform-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    >/dev/null
cmake --build "$work/platform-build" >/dev/null
DESTDIR=$BOARD_SYSROOT cmake --install "$work/platform-build" --prefix /usr >/dev/null

source scripts/lib/readme.sh
clone=$work/checkout
fresh_copy "$clone"
readme_blocks board README.md "$clone"
echo "== the README's board route (BOARD_SYSROOT=$BOARD_SYSROOT)"
sed 's/^/  | /' "$clone/readme-board.sh"
(cd "$clone" && bash -euxo pipefail readme-board.sh)

stage=$clone/stage
if find "$stage" -name 'libzamipc*' -o -name 'libdlog*' -o -name 'LxIpc*.h' -o -name dlog.h |
    grep .; then
    echo "board: the stage above holds an IPC or logging file, which would shadow the board's" >&2
    exit 1
fi
for file in usr/lib/libZamTarvexMuxMsg.so.1 usr/bin/tarvexmux-server usr/bin/tarvexmux-client \
    usr/libexec/ZamTarvexMuxMsg/ptest/run-ptest; do
    [ -e "$stage/$file" ] || { echo "board: $file is not in the stage" >&2; exit 1; }
done

root=$work/board
mkdir -p "$root"
cp -a /usr/powerpc-linux-gnu/lib "$root/lib"
cp -a "$BOARD_SYSROOT/usr" "$root/usr"
cp -a "$stage/usr/." "$root/usr/"
emulate=(qemu-ppc -L "$root")

# The programs, over the board's libraries, through FIFOs of their own.
fifos=$work/fifos
mkdir "$fifos"
ZAMIPC_FIFO_DIR=$fifos "${emulate[@]}" "$root/usr/bin/tarvexmux-server" --add 1 --count 1 \
    2>"$fifos/server.err" &
server_pid=$!
for ((waited = 0; waited < 400; waited++)); do
    grep -qs ready "$fifos/server.err" && break
    sleep 0.05
done
reply=$(ZAMIPC_FIFO_DIR=$fifos timeout 30 "${emulate[@]}" "$root/usr/bin/tarvexmux-client" \
    --network 41 --macs 0-3,127)
wait "$server_pid"
server_pid=
[ "$reply" = "reply: network 42 macs 0-3,127" ] ||
    { echo "board: client said \"$reply\"" >&2; cat "$fifos/server.err" >&2; exit 1; }
echo "board: staged programs exchanged a report over the board's libraries"

out=$work/run-ptest.out
ZAM_PTEST_EMULATOR="${emulate[*]}" sh "$root/usr/libexec/ZamTarvexMuxMsg/ptest/run-ptest" \
    >"$out" 2>&1 || { cat "$out" >&2; exit 1; }
grep -E '^(PASS|FAIL|SKIP): ' "$out"
grep -q '^PASS: ' "$out"
