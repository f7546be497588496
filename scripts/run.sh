#!/usr/bin/env bash
# Sets up, builds and opens Tavrin on the bundled sample image
# (or on the bitmap given as the first argument).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
image="${1:-$root/resources/sample.bmp}"
exec "$root/build/src/tavrin" "$image"
