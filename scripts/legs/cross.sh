#!/usr/bin/env bash
# Cross-endian leg: a client built for the host talks to a server built for PowerPC (run under
# qemu-ppc) through the same FIFOs, and a PowerPC client to a host server; every request the
# server prints and every reply the client prints is checked.
# Uses build/host (as scripts/legs/host.sh configures it) and build/ppc (the ppc preset) and
# configures them when missing; ZAM_HOST_BUILD and ZAM_PPC_BUILD name other build directories.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ libgtest-dev libgmock-dev pkgconf \
    g++-powerpc-linux-gnu qemu-user googletest

host_build=${ZAM_HOST_BUILD:-build/host}
ppc_build=${ZAM_PPC_BUILD:-build/ppc}
sysroot=/usr/powerpc-linux-gnu
programs=(tarvexmux-server tarvexmux-client)

# The same cache settings as the host leg and the ppc preset, so that either may reuse the
# directory afterwards.
if [ ! -f "$host_build/CMakeCache.txt" ]; then
    cmake -S . -B "$host_build" -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
if [ ! -f "$ppc_build/CMakeCache.txt" ]; then
    cmake -S . -B "$ppc_build" -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/powerpc-linux-gnu.cmake" \
        -DZAM_BUILD_TESTS=ON -DZAM_BUILD_TOOLS=ON
fi
cmake --build "$host_build" --target "${programs[@]}"
cmake --build "$ppc_build" --target "${programs[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/zam-cross.XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# command_for SIDE PROGRAM: sets cmd to the command that runs PROGRAM as built for SIDE,
# natively on the host, under the emulator with the target's loader and libraries for ppc.
command_for() {
    case $1 in
    host) cmd=("$host_build/tools/$2") ;;
    ppc) cmd=(qemu-ppc -L "$sysroot" "$ppc_build/tools/$2") ;;
    esac
}

# exchange NAME SERVER-SIDE CLIENT-SIDE NETWORK MACS ADD COUNT: one server answering COUNT
# requests with the network number + ADD, one client sending them; both outputs checked.
# MACS is given as the programs print it (ascending ranges, "none" for no image).
exchange() {
    local name=$1 server_side=$2 client_side=$3 network=$4 macs=$5 add=$6 count=$7
    local dir=$work/$name
    mkdir "$dir"
    export ZAMIPC_FIFO_DIR=$dir
    local started=$SECONDS

    local cmd
    command_for "$server_side" tarvexmux-server
    "${cmd[@]}" --count "$count" --add "$add" --timeout 30 \
        >"$dir/server.out" 2>"$dir/server.err" &
    server_pid=$!
    # The server says on stderr when its FIFO is open; waited for at most 20 s (emulated).
    local waited
    for ((waited = 0; waited < 400; waited++)); do
        grep -q '^ready: ' "$dir/server.err" && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.05
    done

    local client_status=0 server_status=0
    command_for "$client_side" tarvexmux-client
    timeout 60 "${cmd[@]}" --network "$network" --macs "$macs" \
        --count "$count" --timeout 5 >"$dir/client.out" 2>"$dir/client.err" ||
        client_status=$?
    # A client that gave up leaves the server waiting for requests that will not come.
    [ "$client_status" -eq 0 ] || kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" || server_status=$?
    server_pid=

    local reply=$(((network + add) % 65536)) problems=()
    [ "$client_status" -eq 0 ] || problems+=("client exited with $client_status")
    [ "$server_status" -eq 0 ] || problems+=("server exited with $server_status")
    local expected_requests expected_replies
    expected_requests=$(for ((i = 0; i < count; i++)); do echo "request: network $network macs $macs"; done)
    expected_replies=$(for ((i = 0; i < count; i++)); do echo "reply: network $reply macs $macs"; done)
    [ "$(cat "$dir/server.out")" = "$expected_requests" ] ||
        problems+=("the server did not print $count x \"request: network $network macs $macs\"")
    [ "$(cat "$dir/client.out")" = "$expected_replies" ] ||
        problems+=("the client did not print $count x \"reply: network $reply macs $macs\"")

    if [ ${#problems[@]} -ne 0 ]; then
        printf 'cross: FAIL %s (server %s, client %s)\n' "$name" "$server_side" "$client_side" >&2
        printf '  %s\n' "${problems[@]}" >&2
        for file in server.out server.err client.out client.err; do
            echo "  --- $file" >&2
            sed 's/^/  /' "$dir/$file" >&2
        done
        exit 1
    fi
    printf 'cross: %-18s server %-4s client %-4s %3d exchanges  ok (%d s)\n' \
        "$name" "$server_side" "$client_side" "$count" $((SECONDS - started))
}

exchange ppc-server-image ppc host 4660 0-3,17,127 1 20
exchange ppc-server-none ppc host 0 none 65535 3
exchange host-server-image host ppc 65535 0,2,4-9,64-127 1 20
exchange host-server-edges host ppc 300 0,127 300 3
echo "cross: every reply checked"
