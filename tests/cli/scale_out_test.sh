#!/usr/bin/env bash
# The recipes of docs/scale-out.md on this machine, with GNU parallel on two local slots:
#   1. 500 small files in shares of 10 names (--pipe); the run is killed with SIGKILL once about a
#      quarter of the outputs exist, cleaned up and resumed. Every output must then exist once,
#      complete, byte for byte as a single run writes it, and the joblog must list every share once.
#   2. One share per directory, outputs in a mirrored tree (directory names with blanks).
#
#   tests/cli/scale_out_test.sh PATH/TO/pixavant
# Exit status 77 (skipped) when GNU parallel is missing.
set -euo pipefail
pixavant="$(realpath "$1")"
command -v parallel >/dev/null || { echo "GNU parallel is not installed: skipped"; exit 77; }

tmp="$(mktemp -d)"
run_group=""
cleanup() {
    [ -n "$run_group" ] && kill -KILL -- "-$run_group" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
cd "$tmp"

# 500 different 24-bit BMP files of 8 to 44 pixels a side, in five directories.
perl - "$tmp/archive" <<'EOF'
use strict;
my $root = shift;
mkdir $root;
for my $i (0 .. 499) {
    my $dir = sprintf("%s/folder %d", $root, $i % 5);
    mkdir $dir;
    my ($w, $h) = (8 + $i % 37, 8 + ($i * 7) % 29);
    my $row = ($w * 3 + 3) & ~3;
    open my $f, '>', sprintf("%s/img%03d.bmp", $dir, $i) or die;
    binmode $f;
    print $f pack('A2 V v v V', 'BM', 54 + $row * $h, 0, 0, 54);
    print $f pack('V l l v v V V l l V V', 40, $w, $h, 1, 24, 0, $row * $h, 2835, 2835, 0, 0);
    for my $y (0 .. $h - 1) {
        print $f pack('C*', map { ($_ * ($i + 3) + $y * 11) % 256 } 0 .. $w * 3 - 1),
            "\0" x ($row - $w * 3);
    }
    close $f;
}
EOF
find "$tmp/archive" -type f -print0 | sort -z > archive.list

# What a single run writes.
mkdir reference
"$pixavant" convert --jobs 1 -0 --files-from archive.list -o reference > /dev/null
[ "$(ls reference | wc -l)" -eq 500 ] || fail "the single run wrote $(ls reference | wc -l) files"

outputs() { find "$tmp/archive" -type f -name '*.JPG' | wc -l; }
# Every output under the directory is the single run's file, byte for byte.
check_outputs() {
    find "$1" -type f -name '*.JPG' -print0 |
        while IFS= read -r -d '' out; do
            cmp -s "$out" "reference/$(basename "$out")" || fail "$out differs from a single run"
        done
}

# Recipe 1, killed once about a quarter of the outputs exist.
recipe1() {
    parallel --pipe --recend '\0' -N 10 -S 2/: --joblog "$tmp/archive.joblog" "$@" \
        "$pixavant" convert --keep-going --skip-existing -0 --files-from - \
        < archive.list > /dev/null 2>> archive.failures
}
setsid bash -c "$(declare -f recipe1); pixavant='$pixavant'; tmp='$tmp'; recipe1" &
run_group=$!
for _ in $(seq 1 3000); do
    [ "$(outputs)" -ge 125 ] && break
    kill -0 "$run_group" 2>/dev/null || break
    sleep 0.01
done
kill -KILL -- "-$run_group" 2>/dev/null || fail "the run ended before it could be killed"
wait "$run_group" 2>/dev/null || true
run_group=""
stopped=$(outputs)
echo "killed with $stopped of 500 outputs written"
[ "$stopped" -lt 500 ] || fail "the run ended before it was killed"
check_outputs "$tmp/archive"

# Clean up the killed run's temporary files, as the document says, and resume.
find "$tmp/archive" -type f -name '.*.JPG.??????' -delete
recipe1 --resume
[ "$(outputs)" -eq 500 ] || fail "$(outputs) outputs after the resumed run"
check_outputs "$tmp/archive"
[ -z "$(find "$tmp/archive" -name '.*')" ] || fail "hidden files left: $(find "$tmp/archive" -name '.*')"
[ "$(find "$tmp/archive" -type f -name '*.bmp' | wc -l)" -eq 500 ] || fail "sources lost"
[ ! -s archive.failures ] || fail "failures: $(cat archive.failures)"
shares=$(awk 'NR > 1 { print $1 }' archive.joblog | sort -n)
[ "$(echo "$shares" | wc -l)" -eq 50 ] || fail "the joblog lists $(echo "$shares" | wc -l) shares"
[ -z "$(echo "$shares" | uniq -d)" ] || fail "shares run twice: $(echo "$shares" | uniq -d)"

# Recipe 2: one share per directory, into a mirrored tree.
find "$tmp/archive" -type d -print0 | sort -z > archive.dirs
parallel -0 -S 2/: --joblog "$tmp/dirs.joblog" \
    "mkdir -p $tmp/converted{} && find {} -maxdepth 1 -type f -name '*.bmp' -print0 |" \
    "'$pixavant' convert --keep-going --skip-existing -0 --files-from - -o $tmp/converted{}" \
    :::: archive.dirs > /dev/null
[ "$(find "$tmp/converted" -type f | wc -l)" -eq 500 ] || fail "recipe 2 wrote $(find "$tmp/converted" -type f | wc -l) files"
check_outputs "$tmp/converted"
echo "scale-out recipes: ok"
