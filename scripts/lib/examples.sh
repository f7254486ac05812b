# Sourced by legs: run_pair runs the example server and client (examples/) together.
# Needs $work (a scratch directory) and uses $server_pid, which the caller's EXIT trap
# should kill if set.

# run_pair NAME SERVER CLIENT [EMULATOR...]: the example server and client, under the
# emulator command when given, in a FIFO directory of their own; both outputs checked.
run_pair() {
    local name=$1 server=$2 client=$3
    shift 3
    local dir=$work/fifos-$name
    mkdir "$dir"
    ZAMIPC_FIFO_DIR=$dir "$@" "$server" >"$dir/server.out" 2>"$dir/server.err" &
    server_pid=$!
    local waited
    for ((waited = 0; waited < 400; waited++)); do
        grep -qs ready "$dir/server.err" && break # -s: the file may not be there yet
        sleep 0.05
    done
    local reply
    reply=$(ZAMIPC_FIFO_DIR=$dir timeout 30 "$@" "$client" 4242)
    kill -TERM "$server_pid"
    local status=0
    wait "$server_pid" || status=$?
    server_pid=
    if [ "$reply" != "reply: network 4242, 5 MACs" ] || [ "$status" -ne 0 ] ||
        [ "$(cat "$dir/server.out")" != "request: network 4242, 5 MACs" ]; then
        echo "examples: $name: client said \"$reply\", server exited $status" >&2
        cat "$dir/server.out" "$dir/server.err" >&2
        exit 1
    fi
    echo "examples: $name: server and client ok"
}
