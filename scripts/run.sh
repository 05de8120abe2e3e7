#!/usr/bin/env bash
# Installs what is missing, builds the program with Qt 6 and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build/release -j"$(nproc)"
exec build/release/MergeFile/MergeFile "$@"
