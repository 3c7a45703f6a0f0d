#!/usr/bin/env bash
# Soak run of the command line: 2,000 small files (200 x 150 JPEG, PNG, TIFF and BMP) and 50 large
# ones (12-megapixel JPEGs, spread through the list) converted to JPEG in one run, with the memory
# of the process sampled from /proc throughout, then the same files through ImageMagick.
#   bench/soak.sh [PIXAVANT_BINARY] [PHOTO_DIR]
# The files are made in a temporary directory (removed at the end) by scaling the photos of
# PHOTO_DIR (default /work/shared/testdata/photos) with ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/pixavant}")
photos=${2:-/work/shared/testdata/photos}
small=${SOAK_SMALL:-2000}
large=${SOAK_LARGE:-50}
work=$(mktemp -d /tmp/pixavant-soak.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/out" "$work/im"

mapfile -t sources < <(find "$photos" -maxdepth 1 -type f -iname '*.jpg' | sort)
[ ${#sources[@]} -gt 0 ] || { echo "no photos in $photos" >&2; exit 1; }
echo "making $small small and $large large files in $work/src"
exts=(jpg png tif bmp)
for i in "${!sources[@]}"; do
    for e in "${exts[@]}"; do
        convert "${sources[$i]}" -resize '200x150!' "$work/base$i.$e"
    done
    convert "${sources[$i]}" -resize '4000x3000!' -quality 90 "$work/large$i.jpg"
done
n=${#sources[@]}
step=$(( small / (large > 0 ? large : 1) ))
l=0
for ((k = 0; k < small; k++)); do
    name=$(printf 'f%05d' "$k")
    cp "$work/base$((k % n)).${exts[$((k / n % 4))]}" "$work/src/$name.${exts[$((k / n % 4))]}"
    if (( l < large && k % step == step / 2 )); then
        cp "$work/large$((l % n)).jpg" "$work/src/${name}L.jpg"
        l=$((l + 1))
    fi
done
total=$(ls "$work/src" | wc -l)
echo "files: $total ($(du -sh "$work/src" | cut -f1))"

field() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$2/status" 2>/dev/null || true; }
start=$(date +%s.%N)
"$bin" convert --compression jpeg --output "$work/out" "$work"/src/* >"$work/log" 2>&1 &
pid=$!
marks=()
while kill -0 "$pid" 2>/dev/null; do
    rss=$(field VmRSS "$pid"); hwm=$(field VmHWM "$pid")
    done_files=$(ls "$work/out" 2>/dev/null | wc -l)
    [ -n "$rss" ] && [ -n "$hwm" ] && marks+=("$done_files $rss $hwm")
    sleep 0.2
done
wait "$pid" || { echo "pixavant failed:"; tail -5 "$work/log"; exit 1; }
end=$(date +%s.%N)
outputs=$(ls "$work/out" | wc -l)

report() {  # the first sample at or after a given number of converted files
    local want=$1 label=$2
    for m in "${marks[@]}"; do
        set -- $m
        if (( $1 >= want )); then
            printf '  %-6s after %4d files: VmRSS %6d KiB, VmHWM %6d KiB\n' "$label" "$1" "$2" "$3"
            return
        fi
    done
}
echo "pixavant: $outputs outputs in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
report 20 start
report $((total / 2)) middle
last=${marks[-1]}; set -- $last
printf '  %-6s after %4d files: VmRSS %6d KiB, VmHWM %6d KiB\n' end "$1" "$2" "$3"
[ "$outputs" -eq "$total" ] || { echo "expected $total outputs"; exit 1; }

start=$(date +%s.%N)
mogrify -path "$work/im" -format jpg "$work"/src/*
end=$(date +%s.%N)
echo "ImageMagick mogrify: $(ls "$work/im" | wc -l) outputs in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
