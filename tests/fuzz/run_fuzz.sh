#!/usr/bin/env bash
# Builds Gemmora's fuzz targets with clang's libFuzzer, or runs one of them
# over its seed corpus and every input that ever failed it. Fails when the
# fuzzer finds a crash, a hang or a broken promise.
# SPDX-License-Identifier: GPL-3.0-or-later
#
#   run_fuzz.sh build SOURCE_DIR WORK_DIR
#   run_fuzz.sh run   SOURCE_DIR WORK_DIR TARGET SECONDS [EXTRA_SEED_DIR...]
#
# TARGET is one of: comma listline mountinfo mask version cleanup.
set -euo pipefail
action=$1
source_dir=$2
work_dir=$3
shift 3

flags=(-std=c++20 -O1 -g -fsanitize=fuzzer-no-link,address,undefined
       -fno-sanitize-recover=undefined -I"$source_dir")

declare -A main_of=(
    [comma]=CommaTextFuzz.cpp [listline]=ListLineFuzz.cpp [mountinfo]=MountInfoFuzz.cpp
    [mask]=MaskFuzz.cpp [version]=VersionFuzz.cpp [cleanup]=CleanupFuzz.cpp
)

if [ "$action" = build ]; then
    mkdir -p "$work_dir/obj"
    objects=()
    for source in text/CommaText.cpp text/Text.cpp text/StringList.cpp \
                  platform/FolderListing.cpp platform/Mounts.cpp text/Locale.cpp \
                  versioninfo/VersionResource.cpp settings/ResultLines.cpp \
                  platform/NoFollowOpen.cpp cleanup/Plan.cpp cleanup/PlanText.cpp \
                  cleanup/Journal.cpp platform/OutputFile.cpp text/LineReader.cpp \
                  platform/WholeFile.cpp platform/Trash.cpp; do
        object="$work_dir/obj/$(echo "$source" | tr / _).o"
        if [ ! -e "$object" ] || [ "$source_dir/$source" -nt "$object" ]; then
            clang++-16 "${flags[@]}" -c "$source_dir/$source" -o "$object" &
        fi
        objects+=("$object")
    done
    wait
    rm -f "$work_dir/core.a"
    ar rcs "$work_dir/core.a" "${objects[@]}"
    for target in "${!main_of[@]}"; do
        clang++-16 "${flags[@]/fuzzer-no-link/fuzzer}" "$source_dir/tests/fuzz/${main_of[$target]}" \
            "$work_dir/core.a" -o "$work_dir/fuzz_$target" &
    done
    wait
    for target in "${!main_of[@]}"; do
        [ -x "$work_dir/fuzz_$target" ] || { echo "fuzz_$target was not built" >&2; exit 1; }
    done
    exit 0
fi

[ "$action" = run ] || { echo "usage: $0 build|run ..." >&2; exit 2; }
target=$1
seconds=$2
shift 2
corpus="$work_dir/corpus/$target"
crashes="$work_dir/crashes/$target"
mkdir -p "$corpus" "$crashes"
seeds=("$source_dir/tests/fuzz/corpus/$target")
[ -d "$source_dir/tests/fuzz/regressions/$target" ] && seeds+=("$source_dir/tests/fuzz/regressions/$target")
for extra in "$@"; do
    seeds+=("$extra")
done
for seed in "${seeds[@]}"; do
    find "$seed" -maxdepth 1 -type f -exec cp {} "$corpus/" \;
done

# Every input that ever failed must pass now, whatever the run finds.
if [ -d "$source_dir/tests/fuzz/regressions/$target" ]; then
    find "$source_dir/tests/fuzz/regressions/$target" -type f -print0 |
        xargs -0 -r "$work_dir/fuzz_$target" >/dev/null 2>&1 ||
        { echo "a regression input of $target fails again" >&2; exit 1; }
fi
"$work_dir/fuzz_$target" "$corpus" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -max_len=131072 -artifact_prefix="$crashes/" -print_final_stats=1
