#!/usr/bin/env bash
# Makes the Debian package from a build folder, unpacks it into a temporary root and
# checks it as installed: every file in its place, the launcher, metainfo and man
# page valid, the dependencies named, the program's --version, and (with Xvfb) a
# start of the unpacked program that finds its resources and the shared collection.
# Usage: check_package.sh <build folder>. Exit code 0: passed; 1: failed.
set -uo pipefail
build=$1
failed=0
fail() { echo "FAIL: $*"; failed=1; }

(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null) || { echo "FAIL: cpack"; exit 1; }
deb=$(ls -t "$build"/package/hoardly_*.deb | head -n 1)
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x $deb"; exit 1; }
echo "Package: $deb ($(du -k "$deb" | cut -f1) KiB)"

program=$(readlink -f "$root/usr/bin/hoardly")
folder=$(dirname "$program")
[ -x "$program" ] || fail "usr/bin/hoardly does not lead to the program: $(ls -l "$root/usr/bin")"
[ -x "$folder/hoardly-desktop" ] || fail "no desktop program beside the command"
for file in "$folder/res/mainform.htm" "$folder/res/renderer.js" "$folder/DragMgr.xml" \
            "$folder/libhoardly-web.so" \
            "$folder/Hoardly Help.html" \
            "$root/usr/share/Hoardly/defaultquotes.xml" "$root/usr/share/Hoardly/defaulttags.xml" \
            "$root/usr/share/applications/hoardly.desktop" \
            "$root/usr/share/icons/hicolor/scalable/apps/hoardly.svg" \
            "$root/usr/share/metainfo/org.hoardly.Hoardly.metainfo.xml" \
            "$root/usr/share/man/man1/hoardly.1.gz"; do
    [ -s "$file" ] || fail "missing: ${file#$root}"
done
for size in 16 22 24 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x${size}/apps/hoardly.png"
    # The PNG header's width and height, big-endian at bytes 16 and 20.
    dims=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size}: $dims"
done

desktop="$root/usr/share/applications/hoardly.desktop"
grep -q '^Exec=hoardly$' "$desktop" || fail "the launcher does not run hoardly"
grep -q '^Categories=.*Utility' "$desktop" && grep -q '^Keywords=' "$desktop" ||
    fail "the launcher has no categories or keywords"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.hoardly.Hoardly.metainfo.xml" ||
        fail "appstreamcli validate"
fi
gzip -t "$root/usr/share/man/man1/hoardly.1.gz" || fail "the man page is not gzip"
zcat "$root/usr/share/man/man1/hoardly.1.gz" | grep -q -- '^.B \\-\\-capture' || fail "the man page lacks --capture"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6webenginecore6-bin libqt6webenginewidgets6 libsqlite3-0; do
    grep -q "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done

version=$("$root/usr/bin/hoardly" --version) || fail "--version failed"
[ "$version" = "hoardly $(dpkg-deb -f "$deb" Version)" ] || fail "--version says: $version"
"$root/usr/bin/hoardly" --help | grep -q -- '--add' || fail "--help does not list --add"

# Started as from the menu: its resources beside it, the shared collection from the
# package's share/ (what /usr/share is once installed).
if command -v Xvfb >/dev/null; then
    home=$(mktemp -d) && chmod 700 "$home"
    display=$((2000 + RANDOM % 20000))
    Xvfb ":$display" -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export HOME=$home XDG_DATA_HOME=$home/data XDG_RUNTIME_DIR=$home XDG_DATA_DIRS=$root/usr/share \
           DISPLAY=":$display" QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
    if [ "$(id -u)" = 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
    "$root/usr/bin/hoardly" --hidden >"$home/output.txt" 2>&1 &
    app=$!
    log=$home/data/Hoardly/logs/application.log
    for _ in $(seq 600); do
        grep -q 'Init complete' "$log" 2>/dev/null && break
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    grep -q 'Init complete' "$log" 2>/dev/null || fail "the unpacked program did not start: $(cat "$home/output.txt" "$log" 2>/dev/null | tail -20)"
    grep -q "SetDataDir: $folder" "$log" || fail "it does not use its own folder: $(head -3 "$log")"
    [ -s "$home/data/Hoardly/defaultquotes.xml" ] || fail "the shared collection was not seeded"
    "$root/usr/bin/hoardly" --add "From the package" || fail "--add to the unpacked program"
    grep -q 'Captured text: 16 characters' "$log" || fail "the added text is not in the log"
    "$root/usr/bin/hoardly" --quit || fail "--quit"
    wait "$app"
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
    rm -rf "$home"
fi

[ "$failed" = 0 ] && echo "The package is complete and its program runs."
exit "$failed"
