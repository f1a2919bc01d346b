#!/usr/bin/env bash
# Builds the program and remuxes the embedded sample into out/sample-remuxed.mp4.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DVANTOREL_TESTS=OFF >/dev/null
cmake --build build/demo -j"$(nproc 2>/dev/null || echo 2)" --target vantorel
mkdir -p out
build/demo/vantorel samples/sample.mp4 out/sample-remuxed.mp4
