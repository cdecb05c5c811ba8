#!/usr/bin/env bash
# Checks what a person installs: scripts/check-package.sh BUILD_DIR
# Installs the build into a staging folder and compares its files with
# tests/package-files.txt, validates the menu entry, the AppStream metadata and the manual
# pages, makes the .deb and checks that it holds the same files, declares the libraries
# the programs link, and that its programs, unpacked elsewhere, find every library and run.
# Nothing is installed on the system: the tests keep running the build's own programs.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
    echo "check-package: $*" >&2
    exit 1
}

echo "-- staging install"
DESTDIR="$scratch/stage" cmake --install "$build" --prefix /usr >/dev/null
(cd "$scratch/stage" && find . -type f -o -type l | sed 's|^\.||' | LC_ALL=C sort) >"$scratch/staged"
LC_ALL=C sort tests/package-files.txt >"$scratch/expected"
diff -u "$scratch/expected" "$scratch/staged" || fail "installed files differ from tests/package-files.txt"

echo "-- menu entry, AppStream metadata, manual pages"
desktop-file-validate "$scratch"/stage/usr/share/applications/*.desktop
appstreamcli validate --no-net "$scratch"/stage/usr/share/metainfo/*.metainfo.xml
for page in "$scratch"/stage/usr/share/man/man1/*.1; do
    warnings=$(groff -k -man -Tutf8 -ww -z "$page" 2>&1)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
bash -n "$scratch"/stage/usr/share/bash-completion/completions/brenvik-cli

echo "-- Debian package"
(cd "$build" && cpack -G DEB -B "$scratch/deb" >/dev/null)
deb=$(ls "$scratch"/deb/*.deb)
info=$(dpkg-deb -I "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
echo "Depends: $depends"
for library in libc6 libcurl4 libsqlite3-0 libssl3 zlib1g libsecret-1-0 libqt6widgets6 \
    libqt6webenginewidgets6; do
    grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library"
done
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\.||' | LC_ALL=C sort >"$scratch/packed"
diff -u "$scratch/expected" "$scratch/packed" || fail "the .deb holds other files than the install"

echo "-- unpacked programs"
dpkg -x "$deb" "$scratch/root"
for program in brenvik brenvik-cli; do
    missing=$(ldd "$scratch/root/usr/bin/$program" | grep 'not found' || true)
    [ -z "$missing" ] || fail "$program: $missing"
done
version=$("$scratch/root/usr/bin/brenvik-cli" --version)
package_version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "brenvik-cli $package_version" ] || fail "brenvik-cli --version says '$version'"
echo "check-package: all good ($version)"
