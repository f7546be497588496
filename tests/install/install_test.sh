#!/usr/bin/env bash
# Tavrin as installed, checked by the desktop's and Debian's own tools.
#   install_test.sh CHECK BUILD-DIR WORK-DIR VERSION SOURCE-DIR
# CHECK is one of: files, desktop-entry, metainfo, manual-pages, package, lintian.
# "files" installs the program into WORK-DIR/prefix and "package" builds the
# Debian package into WORK-DIR/package; the other checks read what those made.
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

deb() { echo "$work/package/tavrin_${version}_$(dpkg --print-architecture).deb"; }

check_package() {
  need dpkg-deb dpkg-shlibdeps cpack
  rm -rf "$work/package"
  (cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) \
    || fail "cpack: $(cat "$work/cpack.log")"
  local package field
  package=$(deb)
  [ -f "$package" ] || fail "no $(basename "$package") ($(ls "$work/package"))"
  [ "$(dpkg-deb -f "$package" Section)" = graphics ] || fail "section is not graphics"
  [ -n "$(dpkg-deb -f "$package" Maintainer)" ] || fail "no maintainer"
  # Found by dpkg-shlibdeps from the binaries, and what no binary names.
  local depends
  depends=$(dpkg-deb -f "$package" Depends)
  for field in libqt6widgets6 libqt6multimedia6 libsndfile1 qt6-qpa-plugins qt6-image-formats-plugins \
      fonts-liberation; do
    grep -q "\\b$field\\b" <<<"$depends" || fail "Depends lacks $field: $depends"
  done
  local file listing
  listing=$(dpkg-deb -c "$package")
  for file in "${installed_files[@]}"; do
    grep -q " \\./usr/$file\$" <<<"$listing" || fail "the package lacks /usr/$file"
  done
}

check_lintian() {
  need lintian
  [ -f "$(deb)" ] || fail "no package to check"
  local report
  report=$(lintian "$(deb)" 2>&1) || true
  echo "$report"
  ! grep -q '^E:' <<<"$report" || fail "lintian reports errors"
}

case $check in
  files) check_files ;;
  manual-pages) check_manual_pages ;;
  desktop-entry) check_desktop_entry ;;
  metainfo) check_metainfo ;;
  package) check_package ;;
  lintian) check_lintian ;;
  *) fail "unknown check $check" ;;
esac
