#!/usr/bin/env bash
# Builds the program and remuxes the embedded sample into out/sample-remuxed.mp4.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --build-only
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
cmake --build build/demo -j"$(nproc 2>/dev/null || echo 2)" --target vantorel
mkdir -p out
# --force: the demo's own output of an earlier run is replaced.
build/demo/vantorel --force samples/sample.mp4 out/sample-remuxed.mp4
program="$PWD/build/demo/vantorel"
echo
echo "The program: $program"
echo "The remuxed sample: $PWD/out/sample-remuxed.mp4"
echo "Remux a file of your own:"
echo "  $program recording.mkv recording.mp4"
