#!/usr/bin/env bash
# Checks of what PIXAVANT installs, as a distribution would check them.
#   check.sh layout|desktop|metainfo|manpage|completion|package BUILD_DIR SOURCE_DIR
set -euo pipefail
check=$1
build=$(cd "$2" && pwd)
source=$(cd "$3" && pwd)
app_id=com.example.Pixavant
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Installs into $work/root under a prefix and prints the installed root.
install_to() {
    local prefix=$1
    DESTDIR="$work/root" cmake --install "$build" --prefix "$prefix" >/dev/null
    echo "$work/root$prefix"
}

case $check in
layout)
    # Any prefix: every file lands under it, in the place the desktop looks for it.
    for prefix in /usr /opt/pixavant; do
        rm -rf "$work/root"
        root=$(install_to "$prefix")
        expected=(
            bin/pixavant
            share/applications/$app_id.desktop
            share/metainfo/$app_id.metainfo.xml
            share/icons/hicolor/scalable/apps/$app_id.svg
            share/man/man1/pixavant.1.gz
            share/bash-completion/completions/pixavant
            share/doc/pixavant/copyright
            share/doc/pixavant/changelog.gz
        )
        for size in 16 22 24 32 48 64 128 256; do
            expected+=("share/icons/hicolor/${size}x${size}/apps/$app_id.png")
            actual=$(/usr/bin/identify -format '%wx%h' \
                "$root/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
            [ "$actual" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $actual"
        done
        for file in "${expected[@]}"; do
            [ -f "$root/$file" ] || fail "$prefix/$file is not installed"
        done
        [ -x "$root/bin/pixavant" ] || fail "$prefix/bin/pixavant is not executable"
        unexpected=$(cd "$work/root" && find . -type f | sed 's|^\.||' | grep -v "^$prefix/" || true)
        [ -z "$unexpected" ] || fail "installed outside $prefix: $unexpected"
        count=$(find "$root" -type f | wc -l)
        [ "$count" -eq "${#expected[@]}" ] ||
            fail "$count files installed under $prefix, ${#expected[@]} expected"
        "$root/bin/pixavant" --version | grep -q "^pixavant " || fail "the installed program"
    done
    echo "install layout: ok"
    ;;
desktop)
    desktop-file-validate "$source/data/$app_id.desktop"
    grep -q '^MimeType=inode/directory;' "$source/data/$app_id.desktop" ||
        fail "the desktop entry does not open folders"
    echo "desktop-file-validate: ok"
    ;;
metainfo)
    appstreamcli validate --no-net "$build/data/$app_id.metainfo.xml"
    ;;
manpage)
    page=$build/data/pixavant.1
    warnings=$(groff -ww -man -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "groff -ww: $warnings"
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man --warnings: $warnings"
    text=$(MANWIDTH=80 man -l "$page" 2>/dev/null | col -b)
    for section in NAME SYNOPSIS DESCRIPTION COMMANDS "CONVERT OPTIONS" "EXIT STATUS" EXAMPLES; do
        grep -q "^$section" <<<"$text" || fail "no section $section"
    done
    echo "manual page: ok"
    ;;
completion)
    "$source/tests/install/completion.sh" "$source/data/pixavant.bash-completion"
    ;;
package)
    cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" ||
        { cat "$work/cpack.log"; fail "cpack"; }
    deb=$(ls "$work"/package/pixavant_*.deb)
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    for library in libqt6widgets6 libjxl libtiff libgraphicsmagick ghostscript; do
        grep -q "$library" <<<"$depends" || fail "the package does not depend on $library"
    done
    dpkg-deb -c "$deb" >"$work/contents"
    grep -q "\./usr/bin/pixavant$" "$work/contents" || fail "no /usr/bin/pixavant in $deb"
    lintian --fail-on error "$deb" 2>&1 | grep -v 'running with root privileges' || true
    lintian --fail-on error "$deb" >/dev/null 2>&1 || fail "lintian reports errors"
    echo "package: ok"
    ;;
*)
    fail "unknown check $check"
    ;;
esac
