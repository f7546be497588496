#!/usr/bin/env bash
# Sets up, builds and opens Tavrin on the bundled sample image
# (or on the bitmap given as the first argument).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Tavrin needs a desktop session: no DISPLAY or WAYLAND_DISPLAY is set." >&2
  exit 1
fi
image="${1:-$root/resources/sample.bmp}"
exec "$root/build/src/tavrin" "$image"
