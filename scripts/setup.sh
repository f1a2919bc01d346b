#!/usr/bin/env bash
# Installs what building and testing need, when it is missing (Debian/Ubuntu).
# With --build-only, only what building the program needs.
set -euo pipefail

packages=(cmake g++ make zlib1g-dev)
if [ "${1:-}" != "--build-only" ]; then
  # AtomicParsley: a second reader of the tags the remux carries.
  packages+=(libgtest-dev ffmpeg atomicparsley)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 && sudo="sudo" || { echo "setup: need root to install: ${missing[*]}" >&2; exit 1; }
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
