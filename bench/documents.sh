#!/usr/bin/env bash
# A 100-page 200-dpi CCITT G4 fax converted to G4 at 200 dpi: pixavant against libtiff's own
# tiffcp -c g4 (the practical limit) and, on the fax's first 12 pages, ImageMagick's
# convert -compress Group4 (which refuses 100 pages of that size), with each one's peak memory.
#   bench/documents.sh [PIXAVANT] [PAGES]
# The fax is made at run time: the pages of testdata's 3-page manual (Ghostscript's fax device
# wrote them) repeated by tiffcp. Needs tiffcp, tiffsplit, /usr/bin/time and ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
pixavant=$(realpath "${1:-build/pixavant}")
pages=${2:-100}
manual=${PIXAVANT_TESTDATA:-../shared/testdata}/documents/manual-g4-200dpi-3pages.tif
[ -f "$manual" ] || { echo "no $manual" >&2; exit 2; }
magick=/usr/bin/convert
[ -x "$magick" ] || magick=$(command -v convert)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tiffsplit "$manual" "$work/page-" >/dev/null
parts=()
for ((i = 0; i < pages; i++)); do
    parts+=("$work/page-aa$(printf '%b' "\\x$(printf '%x' $((97 + i % 3)))").tif")
done
tiffcp -c g4 "${parts[@]}" "$work/fax.tif"
tiffcp -c g4 "${parts[@]:0:12}" "$work/fax12.tif"
echo "fax: $pages pages of 1653 x 2339 at 200 dpi, $(stat -c %s "$work/fax.tif") bytes;" \
    "load: $(cut -d' ' -f1-3 /proc/loadavg)"

# Best wall time of 3 runs, and the peak resident memory of the last, for one command.
measure() {
    local label=$1 per=$2
    shift 2
    local best=""
    for _ in 1 2 3; do
        rm -rf "$work/out" && mkdir "$work/out"
        /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
            { echo "$label failed: $(cat "$work/err")" >&2; return 0; }
        read -r seconds kib <"$work/time"
        if [ -z "$best" ] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; fi
    done
    awk -v l="$label" -v s="$best" -v k="$kib" -v p="$per" \
        'BEGIN{printf "%-34s %7.2f s  %7.1f ms/page  peak %6.1f MB\n", l, s, s * 1000 / p, k / 1024}'
}

measure "pixavant ($pages pages)" "$pages" \
    "$pixavant" convert --compression g4 --dpi 200 -o "$work/out" "$work/fax.tif"
measure "tiffcp -c g4 ($pages pages)" "$pages" tiffcp -c g4 "$work/fax.tif" "$work/out/fax.tif"
measure "pixavant (12 pages)" 12 \
    "$pixavant" convert --compression g4 --dpi 200 -o "$work/out" "$work/fax12.tif"
measure "ImageMagick -compress Group4 (12)" 12 \
    "$magick" "$work/fax12.tif" -compress Group4 "$work/out/fax12.tif"
