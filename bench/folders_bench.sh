#!/usr/bin/env bash
# The cost of the folder search over the file search alone.
# SPDX-License-Identifier: GPL-3.0-or-later
# Times `gemmora-cli --folders` against the same search without it on one tree,
# in turn, run after run (warm: one untimed run of each first), and prints
# the medians of wall time, CPU time and peak memory as a Markdown table.
#   bench/folders_bench.sh TREE [RUNS] [cold]   (a tree from make_tree --copied-folders)
# With "cold" (as root), the page cache is dropped before every run instead.
set -euo pipefail
tree=${1:?usage: folders_bench.sh TREE [RUNS]}
runs=${2:-3}
cold=${3:-}
cli="$(dirname "$0")/../build/gemmora-cli"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
common=(--any-time --hidden-folders --format paths -q)
run() {  # name, extra options...
    local name=$1
    shift
    if [ "$cold" = cold ]; then
        sync
        echo 3 >/proc/sys/vm/drop_caches
    fi
    /usr/bin/time -f "%e %U %S %M" -o "$out/$name.time" \
        "$cli" "${common[@]}" "$@" -o "$out/$name.out" "$tree" || true
    cat "$out/$name.time" >>"$out/$name.all"
}
run files >/dev/null; run folders --folders >/dev/null
rm -f "$out"/*.all
for _ in $(seq "$runs"); do
    run files
    run folders --folders
done
median() {  # column of a .all file
    awk -v c="$1" '{print $c}' "$2" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
echo "| command | wall s | CPU s | peak MiB |"
echo "|---|---:|---:|---:|"
for name in files folders; do
    wall=$(median 1 "$out/$name.all")
    cpu=$(awk '{print $2 + $3}' "$out/$name.all" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
    kib=$(median 4 "$out/$name.all")
    printf '| gemmora-cli%s | %s | %s | %.1f |\n' "$([ $name = folders ] && echo ' --folders')" \
        "$wall" "$cpu" "$(echo "$kib / 1024" | bc -l)"
done
echo
echo "Folder search output: $(grep -c '' "$out/folders.out") lines; file search output: $(grep -c '' "$out/files.out") lines"
