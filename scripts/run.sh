#!/usr/bin/env bash
# run.sh: installs what is missing, builds the release preset and runs the demo from data/,
# where it finds Zarq-Neat.xm and Data/Particle.bmp.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
bash scripts/setup.sh
cmake --preset release
cmake --build --preset release -j"${JOBS:-2}" --target demo
cd "$root/data"
exec "$root/build/release/src/shell/demo"
