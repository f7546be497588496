#!/usr/bin/env bash
# Tavrin as installed, checked by the desktop's and Debian's own tools.
#   install_test.sh CHECK BUILD-DIR WORK-DIR VERSION SOURCE-DIR
# CHECK is one of: files, desktop-entry, metainfo, manual-pages, generator,
# package, lintian, hardening, reproducible. "files" installs the program into
# WORK-DIR/prefix, which the desktop checks read; the package checks read the
# Debian packages that scripts/package.sh built into BUILD-DIR/package and
# BUILD-DIR/package-again.
# A check whose tool is missing exits 77, which CTest reports as skipped.
set -euo pipefail
check=$1 build=$2 work=$3 version=$4 source=$5
prefix=$work/prefix
app_id=org.tavrin.Tavrin
mkdir -p "$work" # the checks start in any order, the first one makes it

fail() { echo "FAIL: $*" >&2; exit 1; }
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
  done
}
# Runs a program with no display of any kind, as from a terminal or a script.
without_display() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }

# The files every install must hold, below the prefix.
installed_files=(
  bin/tavrin bin/tavrin-render
  share/applications/$app_id.desktop
  share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/scalable/apps/$app_id.svg
  share/man/man1/tavrin.1.gz share/man/man1/tavrin-render.1.gz
  share/doc/tavrin/copyright share/doc/tavrin/changelog.gz
)
icon_sizes=(16 22 24 32 48 64 128 256 512)

check_files() {
  rm -rf "$prefix"
  cmake --install "$build" --prefix "$prefix" >/dev/null
  local file size
  for file in "${installed_files[@]}"; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
  done
  for size in "${icon_sizes[@]}"; do
    file=$prefix/share/icons/hicolor/${size}x${size}/apps/$app_id.png
    [ -f "$file" ] || fail "no ${size}x${size} icon"
    file -b "$file" | grep -q "^PNG image data, $size x $size," \
      || fail "the ${size}x${size} icon is $(file -b "$file")"
  done

  # Away from the build tree: nothing but what was installed is used.
  cd "$work"
  local out
  out=$(without_display "$prefix/bin/tavrin-render" --version)
  [ "$out" = "tavrin-render $version" ] || fail "installed tavrin-render --version says '$out'"
  out=$(without_display "$prefix/bin/tavrin" --version)
  [ "$out" = "tavrin $version" ] || fail "installed tavrin --version says '$out'"
  without_display "$prefix/bin/tavrin" --help | grep -q '^Usage: .*tavrin \[options\] \[file\]' \
    || fail "installed tavrin --help shows no usage without a display"

  # The installed renderer makes the very bytes the built one makes.
  "$build/tools/tavrin-render" "$source/resources/sample.bmp" built.bmp --angle 37 --x-slice 3
  "$prefix/bin/tavrin-render" "$source/resources/sample.bmp" installed.bmp --angle 37 --x-slice 3
  cmp -s built.bmp installed.bmp || fail "the installed tavrin-render renders differently"

  # Where no display answers, the program says so in its last line (the
  # Wayland library may say why first) and ends with status 1, not a crash.
  local said status=0
  said=$(ulimit -c 0; env -u DISPLAY -u QT_QPA_PLATFORM WAYLAND_DISPLAY=tavrin-test-none \
    "$prefix/bin/tavrin" "$source/resources/sample.bmp" 2>&1 >/dev/null) || status=$?
  [[ $status == 1 && ${said##*$'\n'} == "Tavrin cannot reach a display: DISPLAY is not set, and "\
"WAYLAND_DISPLAY=tavrin-test-none has no Wayland compositor." ]] \
    || fail "no display: status $status, last line '${said##*$'\n'}'"
}

# The manual pages are the programs' own --help: every option is there.
check_manual_pages() {
  need groff
  local program page warnings option
  for program in tavrin tavrin-render; do
    page=$prefix/share/man/man1/$program.1.gz
    warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$program.1 renders with warnings: $warnings"
    zcat "$page" | grep -q "^$program \\\\- " || fail "$program.1 is not named $program"
    for option in $(without_display "$prefix/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
      zcat "$page" | sed 's/\\-/-/g' | grep -q -F -- "$option" || fail "$program.1 lacks $option"
    done
  done
}

# Key=value of the installed desktop entry.
entry() { sed -n "s/^$1=//p" "$prefix/share/applications/$app_id.desktop"; }

# The file manager offers Tavrin for exactly the formats it reads: each
# extension tavrin-render --formats lists belongs to a MIME type of the
# entry, and each type there has an extension that is read. The freedesktop
# database of file names (shared-mime-info) ties the two.
offers_what_it_reads() {
  local globs=/usr/share/mime/globs2
  [ -f "$globs" ] || { echo "SKIP: no $globs (shared-mime-info), MIME types not checked"; exit 77; }
  local offered reads extension type types found
  offered=";$(entry MimeType)"
  reads=$(without_display "$prefix/bin/tavrin-render" --formats | sed -n 's/^Reads: *//p')
  [ -n "$reads" ] || fail "tavrin-render --formats lists nothing it reads"
  for extension in $reads; do
    types=$(sed -n "s/^[0-9]*:\([^:]*\):\*\.$extension\$/\1/p" "$globs")
    found=
    for type in $types; do [[ $offered == *";$type;"* ]] && found=1; done
    [ -n "$found" ] || fail ".$extension files are read, but none of '$types' is offered"
  done
  for type in ${offered//;/ }; do
    found=
    for extension in $(sed -n "s|^[0-9]*:$type:\*\.\([a-z0-9]*\)\$|\1|p" "$globs"); do
      [[ " $reads " == *" $extension "* ]] && found=1
    done
    [ -n "$found" ] || fail "$type is offered, but no file of it is read"
  done
}

check_desktop_entry() {
  need desktop-file-validate
  desktop-file-validate "$prefix/share/applications/$app_id.desktop" || fail "desktop-file-validate"
  local exec
  read -r exec _ <<<"$(entry Exec)"
  [ -x "$prefix/bin/$exec" ] || fail "Exec names '$exec', which is not installed"
  [ "$(entry Icon)" = "$app_id" ] || fail "the icon is not named $app_id"
  offers_what_it_reads
}

check_metainfo() {
  need appstreamcli
  local metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
  appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
  grep -q "<id>$app_id</id>" "$metainfo" || fail "the metainfo's id is not $app_id"
  grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
    || fail "the metainfo does not launch $app_id.desktop"
  # Releases are listed newest first; the newest must be this version.
  local newest
  newest=$(grep -o -m 1 '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
  [ "$newest" = "$version" ] || fail "the newest release in the metainfo is $newest, not $version"
  local shot
  shot=$(sed -n 's|.*<image>.*/\([^/<]*\)</image>.*|\1|p' "$metainfo")
  [ -f "$source/dist/screenshots/$shot" ] || fail "the screenshot $shot is not in dist/screenshots"
}

# The Debian packages that scripts/package.sh built, as a distribution builds
# them, and the second build of the same files that must give the same bytes.
packages=$build/package
again=$build/package-again
deb() { echo "$1/tavrin_${version}_$(dpkg --print-architecture).deb"; }
need_packages() {
  local folder
  for folder in "$@"; do
    [ -f "$(deb "$folder")" ] \
      || { echo "SKIP: no $(deb "$folder") (scripts/test.sh builds it with scripts/package.sh)"; exit 77; }
  done
}

# Built from a fresh copy with CMake's default generator, in a folder of its own.
check_generator() {
  need_packages "$packages"
  local cache=$packages/CMakeCache.txt
  grep -qx 'CMAKE_GENERATOR:INTERNAL=Unix Makefiles' "$cache" \
    || fail "the package was built with $(grep '^CMAKE_GENERATOR:' "$cache")"
  [ "$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$cache")" = None ] \
    || fail "the package's build chose a build type of its own instead of Debian's flags"
}

# The package holds exactly what cmake --install puts below /usr.
check_package() {
  need dpkg-deb
  need_packages "$packages"
  local package field
  package=$(deb "$packages")
  [ "$(dpkg-deb -f "$package" Section)" = graphics ] || fail "section is not graphics"
  [ -n "$(dpkg-deb -f "$package" Maintainer)" ] || fail "no maintainer"
  # Found by dpkg-shlibdeps from the binaries, and what no binary names.
  local depends
  depends=$(dpkg-deb -f "$package" Depends)
  for field in libqt6widgets6 libqt6multimedia6 libsndfile1 libgomp1 qt6-qpa-plugins qt6-image-formats-plugins \
      fonts-liberation; do
    grep -q "\\b$field\\b" <<<"$depends" || fail "Depends lacks $field: $depends"
  done
  rm -rf "$work/staged"
  DESTDIR=$work/staged cmake --install "$build" --prefix /usr >/dev/null
  diff <(cd "$work/staged" && find . ! -type d | sort) \
    <(dpkg-deb -c "$package" | awk '$1 !~ /^d/ { print $6 }' | sort) \
    || fail "the package's files (>) are not those of cmake --install (<)"
}

# No error, no warning, and with every tag shown, none about hardening or
# about sections that stripping leaves behind.
check_lintian() {
  need lintian
  need_packages "$packages"
  local report
  report=$(lintian -I --pedantic "$packages"/*.changes 2>&1) || true
  echo "$report"
  ! grep -q '^[EW]:' <<<"$report" || fail "lintian reports errors or warnings"
  ! grep -E ' (hardening-[a-z-]*|binary-has-unneeded-section)( |$)' <<<"$report" \
    || fail "lintian finds the binaries not hardened or not stripped"
}

# Debian's flags in the package, and the same flags as CMake's defaults in
# the build that brought none of its own. Control-flow protection is looked
# for in our own objects, not in the programs: Debian 12's C library start
# files carry no such mark, so no program linked with them can.
check_hardening() {
  need hardening-check dpkg-deb readelf
  need_packages "$packages"
  rm -rf "$work/unpacked"
  dpkg-deb -x "$(deb "$packages")" "$work/unpacked"
  hardening-check --nocfprotection "$work/unpacked/usr/bin/tavrin" "$work/unpacked/usr/bin/tavrin-render" \
    || fail "the packaged programs are not hardened"
  local flag
  for flag in -fstack-clash-protection -fcf-protection; do
    grep -q "^CMAKE_CXX_FLAGS:STRING=.* $flag\\b" "$packages/CMakeCache.txt" \
      || fail "the package was built without $flag"
  done
  hardening-check --nocfprotection "$build/src/tavrin" "$build/tools/tavrin-render" \
    || fail "the programs built with CMake's defaults are not hardened"
  if [ "$(uname -m)" = x86_64 ]; then
    local object
    for object in $(find "$build/src" "$build/tools" -name '*.o'); do
      [[ $(readelf -n "$object") == *'x86 feature: IBT, SHSTK'* ]] \
        || fail "$object is built without control-flow protection"
    done
  fi
}

# Every file of both packages, the compressed ones opened up.
contents() {
  local file
  dpkg-deb -x "$1" "$2"
  find "$2" -type f | sort | while read -r file; do
    case $file in
      *.gz) zcat "$file" ;;
      *) cat "$file" ;;
    esac
  done
}

# Built twice, in two folders at two times (scripts/test.sh varies the clock,
# time zone, locale, umask and host name): the same bytes.
check_reproducible() {
  need dpkg-deb
  need_packages "$packages" "$again"
  local package name differ=
  for package in "$packages"/*.deb; do
    name=$(basename "$package")
    [ -f "$again/$name" ] || fail "the second build made no $name"
    if ! cmp -s "$package" "$again/$name"; then
      differ=1
      echo "$name differs between the two builds" >&2
      if command -v diffoscope >/dev/null; then
        diffoscope "$package" "$again/$name" >&2 || true
      fi
    fi
  done
  [ -z "$differ" ] || fail "the two builds differ"
  # Neither build's folder nor the second build's host name is left anywhere.
  local unpacked
  for package in "$packages"/*.deb "$again"/*.deb; do
    unpacked=$work/contents/$(basename "$(dirname "$package")")/$(basename "$package")
    rm -rf "$unpacked"
    mkdir -p "$(dirname "$unpacked")"
    contents "$package" "$unpacked" >"$unpacked.all"
    ! grep -a -q -E 'tavrin-package\.[A-Za-z0-9]{6}|tavrin-second-build' "$unpacked.all" \
      || fail "$(basename "$package") holds a build folder or host name"
  done
}

case $check in
  files) check_files ;;
  manual-pages) check_manual_pages ;;
  desktop-entry) check_desktop_entry ;;
  metainfo) check_metainfo ;;
  generator) check_generator ;;
  package) check_package ;;
  lintian) check_lintian ;;
  hardening) check_hardening ;;
  reproducible) check_reproducible ;;
  *) fail "unknown check $check" ;;
esac
