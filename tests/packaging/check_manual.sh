#!/usr/bin/env bash
# Checks a manual page against its program: groff renders it without a
# single warning, and every option that the program's --help lists stands
# in the page's OPTIONS. With --try-options the program is also run with
# each of those options, which it must know.
# SPDX-License-Identifier: GPL-3.0-or-later
#
#   check_manual.sh PROGRAM PAGE [--try-options]
set -uo pipefail
program=$1
page=$2
try=${3:-}
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns about $page:"$'\n'"$warnings"

# The page as text, on long lines and without hyphenation, so that an option
# is never split.
text=$(groff -man -Tascii -P-cbou -rLL=250n -rHY=0 "$page" 2>&1) || fail "groff cannot render $page"
options=$(printf '%s\n' "$text" | sed -n '/^OPTIONS$/,/^[A-Z][A-Z ]*$/p')
[ -n "$options" ] || fail "$page has no OPTIONS section"

# Every spelling from --help: the lines that begin with two blanks and a
# minus sign, up to the blanks before the text, split at ", ".
help=$("$program" --help) || fail "$program --help failed"
mapfile -t heads < <(printf '%s\n' "$help" | sed -n 's/^  \(-[^ ].*\)$/\1/p' | sed 's/  .*//')
[ ${#heads[@]} -gt 1 ] || fail "found no options in $program --help"
count=0
for head in "${heads[@]}"; do
    IFS=',' read -ra parts <<<"$head"
    for part in "${parts[@]}"; do
        read -r name value <<<"$part"
        count=$((count + 1))
        if ! grep -qE -- "(^|[ ,])${name}([ ,]|$)" <<<"$options"; then
            fail "$name is in --help but not in the OPTIONS of $page"
        fi
        if [ "$try" != "--try-options" ]; then
            continue
        fi
        work=$(mktemp -d)
        mkdir "$work/tree" "$work/dir"
        : >"$work/file"
        args=("$name")
        if [ -n "$value" ]; then
            first=${value%%|*}
            case "$first" in
            *DIR | FOLDER) args+=("$work/dir") ;;
            *FILE) args+=("$work/file") ;;
            *) args+=("$first") ;;
            esac
        fi
        err=$(cd "$work" && timeout 60 "$program" -q "${args[@]}" "$work/tree" 2>&1 >/dev/null)
        if grep -qiE 'unknown option|needs a value' <<<"$err"; then
            fail "$program does not take ${args[*]}: $err"
        fi
        rm -rf "$work"
    done
done

echo "$count options of $program checked against $page"
if [ "$failures" -gt 0 ]; then
    exit 1
fi
