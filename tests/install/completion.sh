#!/usr/bin/env bash
# Completes command lines with pixavant's bash completion and compares the offers.
#   completion.sh COMPLETION_SCRIPT
set -uo pipefail
source /usr/share/bash-completion/bash_completion
source "$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
mkdir sub
touch a.JPG b.txt c.tif

failures=0
# expect "COMMAND LINE" "OFFERS": the offers, sorted and joined by blanks.
expect() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _pixavant pixavant "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local offers
    offers=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    if [ "$offers" != "$2" ]; then
        echo "FAIL: '$1' offers '$offers', expected '$2'" >&2
        failures=$((failures + 1))
    fi
}

expect "pixavant con" "convert"
expect "pixavant --v" "--version"
expect "pixavant convert --comp" "--compression"
expect "pixavant convert --compression " "g3 g4 jpeg lzw pixavant pixavant-lossless"
expect "pixavant convert --depth " "16 24 48 8 bw gray"
expect "pixavant convert --compression pixavant --level " "0 1 2 3 4 5 6 7 8"
expect "pixavant convert --compression g4 --level " "0 1"
expect "pixavant convert --level 2" "2 20 21 22 23 24 25"
expect "pixavant convert --ext J" "JPG JXL"
expect "pixavant convert " "a.JPG c.tif sub"
expect "pixavant convert -o " "sub"
expect "pixavant info " "a.JPG c.tif sub"
expect "pixavant info --h" "--help"
[ $failures -eq 0 ] && echo "completion: ok"
exit $failures
