#!/usr/bin/env bash
# Builds the Debian package as a distribution builds it: dpkg-buildpackage
# on a fresh copy of the tracked files as they stand (a clean clone, with
# uncommitted changes), with CMake's default generator, and SOURCE_DATE_EPOCH
# from the last commit so that the same commit always gives the same bytes.
#   package.sh [OUT-DIR]     (default build/package)
# OUT-DIR receives the .deb files, the .changes and .buildinfo, the build's
# log and its CMakeCache.txt. DEB_BUILD_OPTIONS is honoured: with nocheck the
# tests are neither built nor run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out=$(realpath -m "${1:-$root/build/package}")
work=$(mktemp -d -t tavrin-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

snapshot=$(git -C "$root" stash create)
git -C "$root" archive --prefix=tavrin/ "${snapshot:-HEAD}" | tar -x -C "$work"
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
export SOURCE_DATE_EPOCH
export DEB_BUILD_OPTIONS="parallel=2 ${DEB_BUILD_OPTIONS:-}"

rm -rf "$out"
mkdir -p "$out"
echo "Building the Debian package in $work (log: $out/build.log)"
if ! (cd "$work/tavrin" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  echo "dpkg-buildpackage failed; the whole log is $out/build.log" >&2
  exit 1
fi
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out"
cp "$work"/tavrin/obj-*/CMakeCache.txt "$out"
ls "$out"
