#!/usr/bin/env bash
# Sizes of 16-bit masters kept at 16 bits: `pixavant convert --depth 48` into TIFF LZW and
# PIXAVANT lossless against `cjxl -d 0` (libjxl's default effort) of the same file, and the time
# of each. Every output is checked to hold the source's samples (--verify; cjxl's by djxl).
#
#   bench/bench_deep_colour.sh [FILE...]   (default: the 16-bit files of ../shared/testdata/modern)
#   PIXAVANT=path/to/pixavant bench/bench_deep_colour.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pixavant="${PIXAVANT:-$root/build/pixavant}"
for tool in cjxl djxl convert compare /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (libjxl-tools, imagemagick, time)" >&2; exit 1; }
done
[ -x "$pixavant" ] || { echo "no pixavant at $pixavant (build it first)" >&2; exit 1; }
modern="$root/../shared/testdata/modern"
if [ $# -gt 0 ]; then files=("$@"); else
    files=("$modern/gray-16bit.png" "$modern/gray-16bit.tif" "$modern/rgb-16bit.png" "$modern/rgb-16bit.tif")
fi

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Runs the command; prints its wall-clock seconds.
timed() {
    /usr/bin/time -f '%e' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err" || { cat "$tmp/err" >&2; exit 1; }
    cat "$tmp/time"
}

printf '| file | source bytes | TIFF LZW bytes (s) | PIXAVANT lossless bytes (s) | cjxl -d 0 bytes (s) |\n'
printf '|---|---:|---:|---:|---:|\n'
for file in "${files[@]}"; do
    name="$(basename "$file")"
    rm -rf "$tmp/out" && mkdir -p "$tmp/out/lzw" "$tmp/out/jxl"
    tLzw=$(timed "$pixavant" convert --depth 48 --compression lzw --verify -o "$tmp/out/lzw" -- "$file")
    tJxl=$(timed "$pixavant" convert --depth 48 --compression pixavant-lossless --verify \
        -o "$tmp/out/jxl" -- "$file")
    # cjxl takes PNG (and PPM/PGM): a TIFF is given to it as a 16-bit PNG of the same samples.
    input="$file"
    if [[ "$file" != *.png ]]; then
        input="$tmp/input.png"
        convert "$file" -depth 16 "$input"
    fi
    tCjxl=$(timed cjxl -d 0 "$input" "$tmp/cjxl.jxl")
    djxl "$tmp/cjxl.jxl" "$tmp/back.png" --bits_per_sample=16 >/dev/null 2>&1
    [ "$(compare -metric AE "$input" "$tmp/back.png" null: 2>&1)" = "0" ] ||
        { echo "cjxl's output of $name does not decode to its samples" >&2; exit 1; }
    lzw=$(stat -c %s "$tmp/out/lzw"/*)
    jxl=$(stat -c %s "$tmp/out/jxl"/*)
    printf '| %s | %d | %d (%s) | %d (%s) | %d (%s) |\n' "$name" "$(stat -c %s "$file")" \
        "$lzw" "$tLzw" "$jxl" "$tJxl" "$(stat -c %s "$tmp/cjxl.jxl")" "$tCjxl"
done
