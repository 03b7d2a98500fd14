#!/usr/bin/env bash
# Sets up the peers and the build, then runs the benchmark.
# SPDX-License-Identifier: GPL-3.0-or-later
# Arguments go to run_bench.py (see --help).
# Example: bench/run.sh --results bench/RESULTS.md
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for package in fdupes jdupes rdfind rmlint duff time python3 strace; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi
./gemmora.sh build >/dev/null
exec python3 bench/run_bench.py "$@"
