#!/usr/bin/env bash
# PowerPC leg: cross-build for 32-bit big-endian PowerPC (warnings as errors, tools on) and
# run every registered test under qemu-ppc, the real-FIFO tests and the golden frames included.
set -euo pipefail
cd "$(dirname "$0")/../.."
scripts/deps cmake ninja-build g++-powerpc-linux-gnu qemu-user googletest
cmake --preset ppc
cmake --build --preset ppc
ctest --preset ppc
