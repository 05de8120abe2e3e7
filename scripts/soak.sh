#!/usr/bin/env bash
# The image suite on many more layouts than CI draws, in a release build:
#   scripts/soak.sh [LAYOUTS] [SEED]
# LAYOUTS defaults to 200; SEED to a new one each run, printed first, so
# that a layout that fails can be drawn again.
set -euo pipefail
cd "$(dirname "$0")/.."

layouts=${1:-200}
seed=${2:-$(( $(date +%s) % 1000000000 ))}
scripts/setup.sh
cmake -S . -B build/soak -DCMAKE_BUILD_TYPE=Release -DMERGEFILE_QT_MAJOR=6 >/dev/null
cmake --build build/soak -j"$(nproc)" --target tst_images MergeFileCli
echo "Layouts from seed $seed: scripts/soak.sh $layouts $seed draws them again."
cd build/soak/tests
QT_QPA_PLATFORM=offscreen MERGEFILE_LAYOUTS=$layouts MERGEFILE_SEED=$seed ./tst_images windowJob everyFormat srecCatAgrees
