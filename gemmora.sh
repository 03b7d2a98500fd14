#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine for Gemmora, builds it, and then starts
# the program ("start") or runs every test ("test").
# SPDX-License-Identifier: GPL-3.0-or-later
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    echo "usage: $0 start|test|build" >&2
    exit 2
}
[ $# -ge 1 ] || usage
action=$1
shift

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-svg-dev libgl-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    clang-16 libclang-rt-16-dev
    gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    xvfb xauth desktop-file-utils
    dpkg-dev file lintian appstream groff-base man-db bash-completion xfsprogs
    libsqlite3-dev libblkid-dev liburing-dev
)

install_missing() {
    local missing=()
    for package in "${packages[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build
}

case "$action" in
build)
    install_missing
    build
    ;;
start)
    install_missing
    build
    if [ -x build/gemmora ]; then
        if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
            echo "There is no display here. Run the desktop program under a virtual one:"
            echo "    xvfb-run -a build/gemmora"
            echo "or search from the terminal:"
            echo "    build/gemmora-cli --help"
            exit 0
        fi
        exec build/gemmora "$@"
    elif [ -x build/gemmora-cli ]; then
        exec build/gemmora-cli --help
    else
        echo "Gemmora is built, but there is no front end to start yet; './gemmora.sh test' runs its tests."
    fi
    ;;
test)
    install_missing
    build
    cd build
    ctest --output-on-failure --timeout 900 "$@"
    ;;
*)
    usage
    ;;
esac
