#!/usr/bin/env bash
# Tests the set-up scripts, installs what is missing, then builds and runs the
# whole test suite three times: with Qt 6, with Qt 5.15 (and Qt's own SHA-256), and with Qt 6 under AddressSanitizer and
# UndefinedBehaviorSanitizer. Warnings are errors. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0

# First the set-up scripts themselves, against a package archive out of step
# (stand-ins for apt; a few seconds).
bash tests/setup/test_apt.sh || status=1

# Chromium draws the layout pictures the tests make.
scripts/setup.sh chromium

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

run() {
    local name=$1; shift
    echo "=== $name ==="
    cmake -S . -B "build/$name" -DMERGEFILE_WERROR=ON "$@"
    cmake --build "build/$name" -j"$jobs"
    (cd "build/$name" && ctest --output-on-failure -j"$jobs") || status=1
}

run qt6 -DCMAKE_BUILD_TYPE=Debug -DMERGEFILE_QT_MAJOR=6
# The Qt 5 run also covers hashing without OpenSSL.
run qt5 -DCMAKE_BUILD_TYPE=Debug -DMERGEFILE_QT_MAJOR=5 -DMERGEFILE_USE_OPENSSL=OFF
run qt6-sanitize -DCMAKE_BUILD_TYPE=Debug -DMERGEFILE_QT_MAJOR=6 -DMERGEFILE_SANITIZE=ON

[ "$status" -eq 0 ] && echo "All test runs passed." || echo "Some tests FAILED."
exit "$status"
