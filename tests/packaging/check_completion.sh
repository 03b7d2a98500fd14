#!/usr/bin/env bash
# Drives the bash completion of gemmora-cli as bash does on Tab: with
# COMP_WORDS and COMP_CWORD set, the completion function fills COMPREPLY.
# SPDX-License-Identifier: GPL-3.0-or-later
#
#   check_completion.sh COMPLETION_SCRIPT GEMMORA_CLI
set -uo pipefail
script=$(realpath "$1")
cli=$(realpath "$2")
passed=0
failed=0

# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion || {
    echo "bash-completion is not installed"
    exit 1
}
# shellcheck disable=SC1090
source "$script"
# Outside a real completion compopt refuses; record what was asked instead.
compopt() { compopt_calls+=("$*"); }

check() {
    local what=$1 expected=$2 actual
    actual=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd '|')
    if [ "$actual" = "$expected" ]; then
        passed=$((passed + 1))
    else
        echo "FAIL: $what: expected '$expected', got '$actual'"
        failed=$((failed + 1))
    fi
}

# Completes the last word of the line, as Tab does at its end.
complete_line() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    compopt_calls=()
    _gemmora_cli gemmora-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
}

if complete -p gemmora-cli | grep -q -- '-F _gemmora_cli'; then
    passed=$((passed + 1))
else
    echo "FAIL: the script does not complete gemmora-cli"
    failed=$((failed + 1))
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir "alpha dir" beta -- -odd
: >notes.txt
: >beta/inner.txt

complete_line gemmora-cli --for
check "an option" "--format"
complete_line gemmora-cli --format ""
check "the values of --format" "json|list|paths"
complete_line gemmora-cli --format p
check "a value of --format" "paths"
complete_line gemmora-cli --master ""
check "folders for --master" "-odd|alpha dir|beta"
complete_line gemmora-cli --known no
check "a file for --known" "notes.txt"
complete_line gemmora-cli -q -o ""
check "files and folders for -o" "-odd|alpha dir|beta|notes.txt"
complete_line gemmora-cli --any-time ""
check "folders for FOLDER" "-odd|alpha dir|beta"
complete_line gemmora-cli --mask ""
check "nothing for free text" ""
complete_line gemmora-cli -- -
check "a folder after --" "-odd"

# Every option of --help is offered after a minus sign.
complete_line gemmora-cli -
offered=" ${COMPREPLY[*]} "
names=0
for name in $("$cli" --help | sed -n 's/^  \(-[^ ].*\)$/\1/p' | sed 's/  .*//; s/,/ /g' |
    awk '{for (i = 1; i <= NF; i++) if ($i ~ /^-/) print $i}'); do
    names=$((names + 1))
    if [[ $offered == *" $name "* ]]; then
        passed=$((passed + 1))
    else
        echo "FAIL: $name is in --help but not completed"
        failed=$((failed + 1))
    fi
done

if [ "$names" -lt 10 ]; then
    echo "FAIL: found only $names options in $cli --help"
    failed=$((failed + 1))
fi

# A value word ending in ':' (such as move: of move:DIR) waits for its folder.
cur=mo
COMPREPLY=()
compopt_calls=()
_gemmora_cli_words 'trash move:'
check "a prefix word" "move:"
if [[ " ${compopt_calls[*]} " == *" -o nospace "* ]]; then
    passed=$((passed + 1))
else
    echo "FAIL: a prefix word is followed by a blank"
    failed=$((failed + 1))
fi
cur=move:al
COMPREPLY=()
_gemmora_cli_words 'trash move:'
check "the folder after a prefix word" "alpha dir"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
