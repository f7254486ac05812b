#!/usr/bin/env bash
# build-busybox.sh CACHE-DIR: fetches the distribution's BusyBox source (through a private
# source list, the system's apt configuration untouched), builds a static PowerPC binary with
# the applets in scripts/kernel/busybox.config and prints the directory holding busybox and
# busybox.links. Kept in CACHE-DIR under a key made of the configuration and this script.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$1
fragment=$here/busybox.config
key=$(cat "$fragment" "$0" | sha256sum | cut -c1-16)
dir=$cache/busybox-$key
if [ -f "$dir/built" ]; then
    echo "$dir/build"
    exit 0
fi

rm -rf "$dir"
apt_dir=$dir/apt
mkdir -p "$apt_dir/parts" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$dir/src"
cat >"$apt_dir/parts/src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_options=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$apt_dir/parts"
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
    -o APT::Sandbox::User=root) # the private directories are not readable by apt's own user
echo "busybox: fetching the source" >&2
apt-get -qq "${apt_options[@]}" update >&2
(cd "$dir/src" && apt-get -qq "${apt_options[@]}" source --download-only busybox >&2)
tarball=$(ls "$dir"/src/busybox_*.orig.tar.*)
tar -xf "$tarball" -C "$dir/src"
mv "$dir"/src/busybox-*/ "$dir/build"
cd "$dir/build"

# allnoconfig, then the fragment's options; oldconfig fills in what they bring along.
make -s allnoconfig >/dev/null
while read -r option; do
    sed -i "/^# ${option%%=*} is not set\$/d;/^${option%%=*}=/d" .config
    echo "$option" >>.config
done < <(grep -E '^CONFIG_[A-Z0-9_]+=' "$fragment")
{ yes '' || true; } | make -s oldconfig >/dev/null
echo "busybox: building" >&2
nice -n 10 make -s -j2 CROSS_COMPILE=powerpc-linux-gnu- busybox busybox.links >"$dir/build.log" 2>&1 ||
    { tail -40 "$dir/build.log" >&2; exit 1; }
touch "$dir/built"
echo "$dir/build"
