#!/usr/bin/env bash
# How many JPEGs `pixavant convert --compression pixavant-lossless` carries over (recompressed,
# the JPEG rebuildable from the output) rather than encoding their pixels, and the bytes: one
# Markdown row per file, then the totals. Each file is converted once per resolution given in
# DPIS ("own" converts without --dpi).
#
#   bench/carry_over.sh ../shared/testdata/exif ../shared/testdata/photos
#   PIXAVANT=path/to/pixavant DPIS="own 72 300" bench/carry_over.sh DIR...
#
# carried: the output holds JPEG reconstruction data (jxlinfo); rebuilt: what `djxl` rebuilds of
# it against the source, "same" byte for byte, or the count of bytes that differ (the resolution
# rewritten in place) with the sizes equal.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pixavant="${PIXAVANT:-$root/build/pixavant}"
dpis="${DPIS:-own 72}"
for tool in jxlinfo djxl cmp; do
    command -v "$tool" >/dev/null || { echo "needs $tool (libjxl-tools, diffutils)" >&2; exit 1; }
done
[ -x "$pixavant" ] || { echo "no pixavant at $pixavant (build it first)" >&2; exit 1; }
[ "$#" -gt 0 ] || { echo "usage: $0 DIR..." >&2; exit 2; }
mapfile -t files < <(find -L "$@" -maxdepth 1 -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) | sort)
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

for dpi in $dpis; do
    option=()
    [ "$dpi" = own ] || option=(--dpi "$dpi")
    echo "### --dpi $dpi"
    echo
    echo "| file | JPEG bytes | PIXAVANT bytes | size | carried | rebuilt |"
    echo "|---|---:|---:|---:|---|---|"
    count=0 carried=0 inBytes=0 outBytes=0 carriedIn=0 carriedOut=0
    for f in "${files[@]}"; do
        rm -rf "$tmp/out" && mkdir "$tmp/out"
        name=$(basename "$f")
        if ! "$pixavant" convert --compression pixavant-lossless "${option[@]}" --ext JXL \
            -o "$tmp/out" "$f" >/dev/null 2>"$tmp/err"; then
            echo "| $name | $(stat -c %s "$f") | failed: $(head -c 80 "$tmp/err" | tr '\n|' '  ') | | | |"
            continue
        fi
        out=$(find "$tmp/out" -type f | head -1)
        size=$(stat -c %s "$f") outSize=$(stat -c %s "$out")
        count=$((count + 1)) inBytes=$((inBytes + size)) outBytes=$((outBytes + outSize))
        state=no rebuilt=""
        if jxlinfo "$out" 2>/dev/null | grep -q "reconstruction data"; then
            state=yes carried=$((carried + 1))
            carriedIn=$((carriedIn + size)) carriedOut=$((carriedOut + outSize))
            djxl "$out" "$tmp/rebuilt.jpg" >/dev/null 2>&1 || true
            if cmp -s "$f" "$tmp/rebuilt.jpg"; then
                rebuilt=same
            elif [ "$(stat -c %s "$tmp/rebuilt.jpg" 2>/dev/null || echo 0)" = "$size" ]; then
                rebuilt="$( (cmp -l "$f" "$tmp/rebuilt.jpg" || true) | wc -l) bytes differ"
            else
                rebuilt="other size"
            fi
        fi
        echo "| $name | $size | $outSize | $(awk -v a="$outSize" -v b="$size" 'BEGIN { printf "%.0f %%", 100 * a / b }') | $state | $rebuilt |"
    done
    echo
    echo "Carried over: $carried of $count files; all files $inBytes -> $outBytes bytes" \
        "($(awk -v a="$outBytes" -v b="$inBytes" 'BEGIN { printf "%.1f %%", 100 * a / b }'));" \
        "carried files $carriedIn -> $carriedOut bytes" \
        "($(awk -v a="$carriedOut" -v b="$carriedIn" 'BEGIN { if (b) printf "%.1f %%", 100 * a / b; else print "-" }'))."
    echo
done
