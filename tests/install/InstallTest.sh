#!/bin/bash
# Installs the build into a scratch prefix and checks what a user gets: the
# programs, the codec library where the installed programs find it on their
# own, a menu entry, an icon and AppStream data that the desktop tools accept.
#
#   InstallTest.sh BUILD_DIR QX47_MOVIE VERSION
set -euo pipefail

build=$1 movie=$2 version=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
# The first failure ends the test: what follows depends on what came before.
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null

app=org.cadmo.Cadmo
for f in bin/cadmo bin/cadmo-probe bin/cadmo-qx47enc \
    share/applications/$app.desktop share/metainfo/$app.metainfo.xml \
    share/icons/hicolor/scalable/apps/$app.svg share/icons/hicolor/48x48/apps/$app.png \
    share/icons/hicolor/256x256/apps/$app.png; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
done
codec=$(find "$prefix" -name libcadmo-codec-qx47.so)
[ -n "$codec" ] || fail "the qx47 codec library is not installed"
case $codec in "$prefix"/bin/*) fail "the codec library is installed among the programs: $codec" ;; esac

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/$app.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix/share/metainfo/$app.metainfo.xml" >/dev/null ||
        fail "appstreamcli validate"
fi

# The installed programs must run from the prefix alone: no codec folder in
# the environment, and the build tree out of sight.
run() { env -u CADMO_CODEC_PATH -u LD_LIBRARY_PATH "$@"; }
run "$prefix/bin/cadmo" --version | grep -qF "$version" || fail "cadmo --version does not name $version"

frames() { "$@" "$prefix/bin/cadmo-probe" --frames "$movie" >"$prefix/frames.txt" 2>"$prefix/frames.err"; }
frames run || fail "the installed cadmo-probe does not decode $movie: $(cat "$prefix/frames.err")"
grep -q '^0 [0-9a-f]\{32\}$' "$prefix/frames.txt" || fail "cadmo-probe --frames printed no frame hashes"

# CADMO_CODEC_PATH still brings a codec from a folder of its own.
elsewhere=$prefix/elsewhere
mkdir "$elsewhere"
mv "$codec" "$elsewhere/"
! frames run || fail "cadmo-probe decoded the movie with the codec library moved away"
frames env -u LD_LIBRARY_PATH CADMO_CODEC_PATH="$elsewhere" || fail "CADMO_CODEC_PATH: $(cat "$prefix/frames.err")"
echo "install test passed"
