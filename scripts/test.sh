#!/usr/bin/env bash
# Sets up, builds and runs every test, with a private sound server so that
# the sounds really play; ends with CTest's summary.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cd "$root/build"
"$root/scripts/with-sound-server.sh" ctest --output-on-failure -j2
