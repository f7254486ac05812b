# Sourced by the legs that run the README's commands as a user pastes them.

# fresh_copy DIR: the files git knows of, committed or not, without build trees, into DIR.
fresh_copy() {
    mkdir -p "$1"
    git ls-files -z --cached --others --exclude-standard |
        tar --null -T - --ignore-failed-read -cf - | tar -xf - -C "$1"
}

# readme_blocks TAG MARKDOWN DIR: the blocks after "<!-- leg:TAG -->" in MARKDOWN. Shell lines
# go, in order, to DIR/readme-TAG.sh (but scripts/test, which is what runs the legs);
# "file=PATH" blocks are written to DIR/PATH.
readme_blocks() {
    awk -v tag="<!-- leg:$1" -v dir="$3" -v out="$3/readme-$1.sh" '
        index($0, tag) == 1 { tagged = 1; file = ""; if (match($0, /file=[^ ]+/)) file = substr($0, RSTART + 5, RLENGTH - 5); next }
        tagged && /^```/ && !inside { inside = 1; next }
        inside && /^```/ { inside = 0; tagged = 0; next }
        inside && file != "" { print > (dir "/" file); next }
        inside && $0 !~ /^scripts\/test/ { print > out }
    ' "$2"
}

# cpp_snippets DIR MARKDOWN...: every ```cpp block of the files, one DIR/snippet-N.cpp each.
cpp_snippets() {
    local dir=$1
    shift
    awk -v dir="$dir" '
        /^```cpp/ { inside = 1; n++; file = sprintf("%s/snippet-%d.cpp", dir, n); printf "// %s\n", FILENAME > file; next }
        inside && /^```/ { inside = 0; next }
        inside { print > file }
    ' "$@"
}
