#!/usr/bin/env bash
# Sets up, builds and runs every test, with a private sound server so that
# the sounds really play; ends with CTest's summary.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

# The Debian package as a distribution builds it, with CMake's default
# generator and Debian's flags; the tests below check it, so it skips them.
DEB_BUILD_OPTIONS=nocheck "$root/scripts/package.sh" "$root/build/package"
# The same files again, in another folder, two days later by the build's
# clock, in another time zone, locale, umask and, where a namespace of its own
# is allowed, host name: the tests compare the two builds byte for byte.
again=(env TZ=Pacific/Chatham LC_ALL=C.UTF-8 DEB_BUILD_OPTIONS=nocheck
  faketime -f +2d "$root/scripts/package.sh" "$root/build/package-again")
(
  umask 0077
  if unshare --uts true 2>/dev/null; then
    unshare --uts sh -c 'hostname tavrin-second-build && exec "$@"' sh "${again[@]}"
  else
    "${again[@]}"
  fi
)

cd "$root/build"
"$root/scripts/with-sound-server.sh" ctest --output-on-failure -j2
