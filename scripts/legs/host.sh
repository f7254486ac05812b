#!/usr/bin/env bash
# Host leg: release build with warnings as errors, every test under CTest.
set -euo pipefail
scripts/deps cmake ninja-build g++ libgtest-dev libgmock-dev pkgconf nlohmann-json3-dev
cmake -S . -B build/host -G Ninja -DZAM_WARNINGS_AS_ERRORS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/host
ctest --test-dir build/host --output-on-failure
