#!/usr/bin/env bash
# Builds the Debian package from a finished build, as `cpack -G DEB` does in
# the build folder, and checks it without installing it: its fields, its
# files, Debian's own lint, and the programs as unpacked from it.
# SPDX-License-Identifier: GPL-3.0-or-later
#
#   check_package.sh BUILD_DIR VERSION
set -uo pipefail
build=$(realpath "$1")
version=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if ! cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not make the package"
    exit 1
fi
deb="$work/gemmora_${version}_amd64.deb"
[ -f "$deb" ] || {
    ls "$work"
    echo "FAIL: no $deb"
    exit 1
}

# The fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = gemmora ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "Architecture is $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section is $(field Section)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Homepage)" ] || fail "no Homepage"
# dpkg-shlibdeps found the libraries the programs link, each with a version.
depends=$(field Depends)
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
    [[ ", $depends" == *", $package (>= "* ]] || fail "Depends lacks $package: $depends"
done
grep -qE "(^|, )qt6-qpa-plugins(,|$)" <<<"$depends" || fail "Depends lacks qt6-qpa-plugins"

# The files: exactly these, owned by root, programs executable, the rest not.
expected="-rwxr-xr-x ./usr/bin/gemmora
-rwxr-xr-x ./usr/bin/gemmora-cli
-rw-r--r-- ./usr/share/applications/gemmora.desktop
-rw-r--r-- ./usr/share/bash-completion/completions/gemmora-cli
-rw-r--r-- ./usr/share/doc/gemmora/changelog.gz
-rw-r--r-- ./usr/share/doc/gemmora/copyright"
for size in 128 16 24 256 32 48 64; do
    expected+=$'\n'"-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/gemmora.png"
done
expected+="
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/gemmora.svg
-rw-r--r-- ./usr/share/man/man1/gemmora-cli.1.gz
-rw-r--r-- ./usr/share/man/man1/gemmora.1.gz
-rw-r--r-- ./usr/share/metainfo/com.quarrendale.gemmora.metainfo.xml"
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print $1, $6}' <<<"$listing" | LC_ALL=C sort)
if [ "$files" != "$(LC_ALL=C sort <<<"$expected")" ]; then
    fail "the package holds other files than expected:"$'\n'"$(diff <(LC_ALL=C sort <<<"$expected") <(echo "$files"))"
fi
awk '$2 != "root/root" {print}' <<<"$listing" | grep -q . && fail "files not owned by root"

# Debian's lint: no error and no warning.
lintian_out=$(lintian --fail-on error,warning --display-info "$deb" 2>&1)
lintian_status=$?
echo "lintian:"
grep -v 'running with root privileges' <<<"$lintian_out" | sed 's/^/  /'
[ "$lintian_status" -eq 0 ] || fail "lintian found errors or warnings"

# The programs as the package unpacks them: stripped, they still know their
# version (kept in a section of their own), and gemmora-cli still finds copies.
dpkg-deb -x "$deb" "$work/root"
root=$work/root
[ "$("$root/usr/bin/gemmora-cli" --version)" = "gemmora-cli $version" ] || fail "gemmora-cli --version"
[ "$("$root/usr/bin/gemmora" --version)" = "gemmora $version" ] || fail "gemmora --version"
mkdir -p "$work/tree/a" "$work/tree/b"
echo "the same contents" >"$work/tree/a/one.txt"
echo "the same contents" >"$work/tree/b/two.txt"
found=$("$root/usr/bin/gemmora-cli" -q --any-time --format paths "$work/tree" | grep . | LC_ALL=C sort | paste -sd ' ')
[ "$found" = "$work/tree/a/one.txt $work/tree/b/two.txt" ] || fail "the unpacked gemmora-cli found: $found"

# The metadata files as packaged.
desktop-file-validate "$root/usr/share/applications/gemmora.desktop" || fail "the desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.quarrendale.gemmora.metainfo.xml" ||
    fail "the AppStream metadata"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/com.quarrendale.gemmora.metainfo.xml" ||
    fail "the AppStream metadata has no release $version"
zcat "$root/usr/share/doc/gemmora/changelog.gz" >"$work/changelog"
[ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's latest entry is not $version"
for page in gemmora gemmora-cli; do
    warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "the package $(basename "$deb") is whole"
