#!/usr/bin/env bash
# Builds the version reader's fuzz target with clang's libFuzzer and runs it
# for a short while over a corpus seeded from the real fixtures and every
# input that ever crashed it. Fails when the fuzzer finds a crash.
set -euo pipefail
source_dir=$1
work_dir=$2
fixtures=$3
seconds=${4:-40}

mkdir -p "$work_dir/corpus" "$work_dir/crashes"
clang++-16 -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$source_dir" \
    "$source_dir/platform/VersionResource.cpp" "$source_dir/platform/Text.cpp" \
    "$source_dir/tests/fuzz/VersionFuzz.cpp" -o "$work_dir/version_fuzz"

cp "$fixtures"/*.exe "$fixtures"/*.dll "$work_dir/corpus/"
find "$source_dir/tests/fuzz/regressions" -type f -exec cp {} "$work_dir/corpus/" \;

"$work_dir/version_fuzz" "$work_dir/corpus" -max_total_time="$seconds" -timeout=5 \
    -rss_limit_mb=2048 -max_len=131072 -artifact_prefix="$work_dir/crashes/" -print_final_stats=1
