#!/usr/bin/env bash
# Configures and builds Tavrin into build/ (Release, two jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$@"
cmake --build build -j2
