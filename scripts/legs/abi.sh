#!/usr/bin/env bash
# ABI leg: builds libZamTarvexMuxMsg.so for the host and for PowerPC and fails when its
# interface moves: the exported symbols, the abidw description, the class layouts, the
# static initialisers. Prints the stripped sizes of the three shared objects on PowerPC.
# ZAM_ABI_UPDATE=1 rewrites the baselines in abi/ on purpose (then review and commit them).
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++ g++-powerpc-linux-gnu abigail-tools

export LC_ALL=C
update=${ZAM_ABI_UPDATE:-0}
failures=0
fail() {
    echo "abi: FAIL: $*" >&2
    failures=$((failures + 1))
}

# hex(s): a hexadecimal field as a number, the same in every awk (no strtonum, no "0x").
hex_awk='function hex(s,  i, v) {
    v = 0; s = tolower(s)
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v
}'

lib_name=libZamTarvexMuxMsg.so
# The exported classes, whose shape is part of the interface.
exported_classes="LxTarvexMuxMsg LxTarvexDetectedMacMsg LxTarvexMuxMsgServer LxTarvexMuxMsgClient"

# build_libs DIR [CMAKE ARGS...]: the three shared objects only, with debug information,
# installed into DIR/stage so that the installed headers mark what is public.
build_libs() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZAM_BUILD_TESTS=OFF -DZAM_BUILD_TOOLS=OFF "$@" >"$dir.log" 2>&1 &&
        cmake --build "$dir" >>"$dir.log" 2>&1 &&
        cmake --install "$dir" --prefix "$dir/stage" >>"$dir.log" 2>&1 &&
        cmake --install "$dir" --prefix "$dir/stage" --component stand-ins >>"$dir.log" 2>&1 ||
        {
            cat "$dir.log" >&2
            return 1
        }
}

# abi_xml LIB: the abidw description, without paths, locations or types of private headers.
abi_xml() {
    abidw --no-corpus-path --no-comp-dir-path --no-show-locs --type-id-style hash \
        --drop-private-types --headers-dir "$stage/include" "$1"
}

# The dynamic symbols LIB defines, mangled, one a line: name, nm type, and for data (vtables,
# typeinfo, static members) the size in bytes, which moves when a virtual function is added.
symbol_list() {
    "${tools}nm" -D --defined-only -S "$1" | awk "$hex_awk"'
        NF == 4 && $3 ~ /^[BDGRSVbdgrsv]$/ { printf "%s %s %d\n", $4, $3, hex($2); next }
        NF == 4 { print $4, $3; next }
        NF == 3 { print $3, $2 }' | sort
}

# compare_baseline KIND FILE NEW: NEW against the committed FILE, or FILE rewritten.
compare_baseline() {
    local kind=$1 file=$2 new=$3
    if [ "$update" = 1 ]; then
        cp "$new" "$file"
        echo "abi: rewrote $file"
    elif [ ! -f "$file" ]; then
        fail "$kind: no baseline $file (ZAM_ABI_UPDATE=1 writes one)"
    elif [ "$kind" = abidw ]; then
        abidiff "$file" "$new" >"$new.diff" 2>&1 || {
            cat "$new.diff" >&2
            fail "abidiff: the ABI differs from $file"
        }
    else
        diff -u "$file" "$new" >&2 || fail "$kind: differs from $file"
    fi
}

# init_array_symbols LIB: the functions the loader runs from LIB's .init_array, by name.
init_array_symbols() {
    local lib=$1 section addr size entry slot target
    section=$(readelf -SW "$lib" | sed -n 's/^ *\[ *[0-9]*\] *//p' | awk '$1 == ".init_array"')
    [ -n "$section" ] || return 0
    read -r _ _ addr _ size entry _ <<<"$section"
    for ((slot = 16#$addr; slot < 16#$addr + 16#$size; slot += 16#$entry)); do
        # Each slot is filled by a relocation: relative (the address is the addend) or
        # against a symbol (named there).
        target=$(readelf -rW "$lib" | awk -v slot="$slot" "$hex_awk"'
            $1 ~ /^[0-9a-f]+$/ && NF >= 4 {
                if (hex($1) != slot) next
                if ($3 ~ /RELATIVE/) print "addr", $NF; else print "name", $5
                exit
            }')
        case $target in
        "addr "*)
            "${tools}nm" "$lib" | awk -v want=$((16#${target#addr })) "$hex_awk"'
                NF == 3 && $2 ~ /^[tT]$/ && hex($1) == want { print $3 }'
            ;;
        "name "*) echo "${target#name }" ;;
        *) echo "<unresolved slot $(printf %x "$slot")>" ;;
        esac
    done
}

# check_arch ARCH BUILD-DIR CXX: every check of one architecture's build.
check_arch() {
    local arch=$1 dir=$2 cxx=$3
    local lib=$dir/$lib_name
    stage=$dir/stage
    echo "== abi: $arch"

    symbol_list "$lib" >"$dir/$lib_name.symbols"
    compare_baseline symbols "abi/$lib_name.$arch.symbols" "$dir/$lib_name.symbols"
    abi_xml "$lib" >"$dir/$lib_name.abi"
    compare_baseline abidw "abi/$lib_name.$arch.abi" "$dir/$lib_name.abi"

    "$cxx" -std=c++17 -fsyntax-only -Wall -Wextra -Werror -I"$stage/include" \
        abi/layout_check.cpp || fail "$arch: abi/layout_check.cpp"

    # No static initialisers of ours: the only entry allowed is the compiler's frame_dummy.
    local entries
    entries=$(init_array_symbols "$lib" | paste -sd ' ')
    echo "abi: $arch .init_array: ${entries:-(none)}"
    for entry in $entries; do
        [ "$entry" = frame_dummy ] || fail "$arch: static initialiser in $lib_name: $entry"
    done
    if readelf -SW "$lib" | grep -q '\.ctors'; then
        fail "$arch: $lib_name has a .ctors section"
    fi
}

mkdir -p build/abi
start=$SECONDS
build_libs build/abi/ppc -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/powerpc-linux-gnu.cmake"
build_libs build/abi/host
echo "abi: built in $((SECONDS - start)) s"

tools=powerpc-linux-gnu-
check_arch ppc build/abi/ppc powerpc-linux-gnu-g++

# Member order and offsets, base, statics and virtual functions on the target, against the
# hand-written expectation (the IPC session's virtual functions come from libzamipc.so).
{
    awk -v classes="$exported_classes" -f abi/abi-summary.awk \
        build/abi/ppc/$lib_name.abi build/abi/ppc/$lib_name.abi
    abi_xml build/abi/ppc/ipc/libzamipc.so >build/abi/ppc/libzamipc.abi
    awk -v classes=LxIpcSession -f abi/abi-summary.awk \
        build/abi/ppc/libzamipc.abi build/abi/ppc/libzamipc.abi | grep ' virtual '
} | sort -u >build/abi/ppc/layout
grep -v '^#' abi/layout.ppc.expected | sort -u >build/abi/ppc/layout.expected
diff -u build/abi/ppc/layout.expected build/abi/ppc/layout >&2 ||
    fail "ppc: class layout differs from abi/layout.ppc.expected"

tools=
host_arch=$(uname -m)
if [ -f "abi/$lib_name.$host_arch.symbols" ] || [ "$update" = 1 ]; then
    check_arch "$host_arch" build/abi/host g++
else
    echo "abi: no baselines for $host_arch; host checks skipped"
fi

# Footprint on the target: stripped copies (the build keeps its debug information).
echo "== footprint: stripped on PowerPC (file bytes; text + data + bss loaded)"
mkdir -p build/abi/ppc/stripped
for lib in build/abi/ppc/$lib_name build/abi/ppc/ipc/libzamipc.so build/abi/ppc/ipc/libdlog.so; do
    out=build/abi/ppc/stripped/$(basename "$lib")
    powerpc-linux-gnu-strip -o "$out" "$lib"
    read -r text data bss _ < <(powerpc-linux-gnu-size "$out" | tail -n 1)
    printf '%-22s %7d B  (%d + %d + %d = %d B)\n' "$(basename "$lib")" "$(stat -c %s "$out")" \
        "$text" "$data" "$bss" $((text + data + bss))
done
bytes=$(stat -c %s "build/abi/ppc/stripped/$lib_name")
if [ "$bytes" -gt 32768 ]; then
    echo "note: $lib_name is $bytes B stripped, over the 32 KiB aim"
fi

if [ "$failures" -ne 0 ]; then
    echo "abi: $failures check(s) failed" >&2
    exit 1
fi
echo "abi: interface unchanged"
