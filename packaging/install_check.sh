#!/usr/bin/env bash
# Installs Gemmora's Debian package for real, as a user does, checks that
# everything it brings is in place and works, then removes it and checks that
# nothing of it is left behind. It changes the machine: run it by hand, as
# root, on a Debian machine that may install packages (the tests only build
# and inspect the package).
# SPDX-License-Identifier: GPL-3.0-or-later
#
#   packaging/install_check.sh [PACKAGE.deb]
# Without an argument it takes build/gemmora_*.deb, making it with cpack
# when it is not there.
set -uo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
    echo "install_check.sh installs a package: run it as root" >&2
    exit 2
fi
deb=${1:-}
if [ -z "$deb" ]; then
    shopt -s nullglob
    debs=(build/gemmora_*_amd64.deb)
    if [ ${#debs[@]} -eq 0 ]; then
        (cd build && cpack -G DEB) || exit 1
        debs=(build/gemmora_*_amd64.deb)
    fi
    deb=${debs[-1]}
fi
deb=$(realpath "$deb")
if dpkg-query -W -f='${Status}' gemmora 2>/dev/null | grep -q 'installed'; then
    echo "gemmora is installed already; remove it first (apt-get remove gemmora)" >&2
    exit 2
fi

passed=0
failed=0
check() {
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        passed=$((passed + 1))
        echo "ok: $what"
    else
        failed=$((failed + 1))
        echo "FAIL: $what"
    fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\./, "", $6); print $6}')
version=$(dpkg-deb -f "$deb" Version)

echo "== apt-get install $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" || exit 1
check "dpkg knows gemmora $version as installed" \
    bash -c "dpkg-query -W -f='\${Status} \${Version}' gemmora | grep -qx 'install ok installed $version'"
while read -r file; do
    check "$file is installed" test -f "$file"
done <<<"$files"
check "gemmora-cli is on the PATH" bash -c "[ \"\$(command -v gemmora-cli)\" = /usr/bin/gemmora-cli ]"
check "gemmora-cli --version" bash -c "[ \"\$(gemmora-cli --version)\" = 'gemmora-cli $version' ]"
check "gemmora --version without a display" \
    bash -c "[ \"\$(env -u DISPLAY -u WAYLAND_DISPLAY gemmora --version)\" = 'gemmora $version' ]"
check "man finds gemmora-cli(1)" bash -c "[ \"\$(man -w gemmora-cli)\" = /usr/share/man/man1/gemmora-cli.1.gz ]"
check "man finds gemmora(1)" bash -c "[ \"\$(man -w gemmora)\" = /usr/share/man/man1/gemmora.1.gz ]"
check "man renders gemmora-cli(1) without a warning" \
    bash -c "MANWIDTH=80 man --warnings gemmora-cli 2>&1 >/dev/null | grep -q . && exit 1; exit 0"
check "bash loads the completion of gemmora-cli on demand" \
    bash -c "source /usr/share/bash-completion/bash_completion && _completion_loader gemmora-cli;
             complete -p gemmora-cli | grep -q _gemmora_cli"
check "the desktop entry is valid where it is installed" \
    desktop-file-validate /usr/share/applications/gemmora.desktop
check "the AppStream metadata is valid where it is installed" \
    appstreamcli validate --no-net /usr/share/metainfo/com.quarrendale.gemmora.metainfo.xml

mkdir -p "$work/tree/a" "$work/tree/b" "$work/home"
echo "the same contents" >"$work/tree/a/one.txt"
echo "the same contents" >"$work/tree/b/two.txt"
check "the installed gemmora-cli finds the copies" \
    bash -c "gemmora-cli -q --any-time --format paths '$work/tree' | grep -c txt | grep -qx 2"
# The window on the offscreen platform for two seconds, with a home of its
# own: it must start and run until it is stopped.
HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share \
    QT_QPA_PLATFORM=offscreen timeout 2 gemmora >/dev/null 2>&1
status=$?
check "the installed gemmora starts and runs until stopped (status $status)" test "$status" -eq 124

echo "== apt-get remove gemmora"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q gemmora || exit 1
check "dpkg no longer has gemmora" \
    bash -c "! dpkg-query -W -f='\${Status}' gemmora 2>/dev/null | grep -q installed"
while read -r file; do
    check "$file is gone" test ! -e "$file"
done <<<"$files"
check "no folder of gemmora is left" test ! -e /usr/share/doc/gemmora
leftovers=$(find /usr /etc /var/lib/dpkg/info -name '*gemmora*' 2>/dev/null)
check "no file named after gemmora is left${leftovers:+: $leftovers}" test -z "$leftovers"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
