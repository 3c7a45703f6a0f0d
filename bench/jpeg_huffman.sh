#!/usr/bin/env bash
# JPEG output at equal quantisation tables: bytes, time and peak memory of `pixavant convert`
# (optimised Huffman tables) against ImageMagick's convert, and what the optimisation itself costs.
#
#   bench/jpeg_huffman.sh [PHOTO_DIR]     (default: ../shared/testdata/photos beside the worktree)
#   PIXAVANT=path/to/pixavant ROUNDS=3 bench/jpeg_huffman.sh
#
# Each photo is converted alone by each tool (one process per file): pixavant with its start-up
# settings (JPEG quality factor 2, 4:4:4, 72 dpi), ImageMagick with -quality 98 -sampling-factor
# 1x1 -density 72, which gives the same tables (libjpeg's quality 98 scales the standard tables to
# 4 %, as quality factor 2 does); the script checks that the tables are the same bytes. The cost of
# the optimisation alone is measured with libjpeg-turbo's cjpeg on the photo's decoded pixels, with
# and without -optimize, same tables and sampling. Best of ROUNDS runs; peak memory is the largest
# resident set.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pixavant="${PIXAVANT:-$root/build/pixavant}"
photos="${1:-$root/../shared/testdata/photos}"
rounds="${ROUNDS:-3}"
magick="${MAGICK_CONVERT:-/usr/bin/convert}"
for tool in "$pixavant" "$magick" /usr/bin/cjpeg /usr/bin/djpeg; do
    [ -x "$tool" ] || { echo "missing $tool" >&2; exit 1; }
done
mapfile -t files < <(find "$photos" -maxdepth 1 -type f -iname '*.jp*g' | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no JPEG files in $photos" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Best "seconds kilobytes" of ROUNDS runs of the command.
best() {
    local t=999999 m=0
    for _ in $(seq "$rounds"); do
        /usr/bin/time -f '%e %M' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err" || {
            cat "$tmp/err" >&2
            exit 1
        }
        read -r s k <"$tmp/time"
        t=$(awk -v a="$t" -v b="$s" 'BEGIN { print (b < a) ? b : a }')
        [ "$k" -gt "$m" ] && m=$k
    done
    echo "$t $m"
}

# The DQT segments of a JPEG file, as hex.
tables() {
    python3 - "$1" <<'EOF'
import struct, sys
d = open(sys.argv[1], "rb").read()
i, out = 2, []
while i + 4 <= len(d) and d[i] == 0xFF and d[i + 1] != 0xDA:
    n = struct.unpack(">H", d[i + 2:i + 4])[0]
    if d[i + 1] == 0xDB:
        out.append(d[i + 4:i + 2 + n].hex())
    i += 2 + n
print("".join(out))
EOF
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); rounds: $rounds"
echo
echo "| photo | pixavant bytes | ImageMagick bytes | difference | unoptimised bytes | pixavant s / MB | ImageMagick s / MB | cjpeg s / MB | cjpeg -optimize s / MB |"
echo "|---|---|---|---|---|---|---|---|---|"
sum_p=0 sum_m=0 sum_u=0
for f in "${files[@]}"; do
    name="$(basename "$f")"
    stem="${name%%.*}"
    mkdir -p "$tmp/p"
    read -r tp mp < <(best "$pixavant" convert -o "$tmp/p" "$f")
    out_p="$tmp/p/$stem.JPG"
    read -r tm mm < <(best "$magick" "$f" -auto-orient -quality 98 -sampling-factor 1x1 \
        -density 72 -units PixelsPerInch "$tmp/m.jpg")
    if [ "$(tables "$out_p")" != "$(tables "$tmp/m.jpg")" ]; then
        echo "$name: quantisation tables differ" >&2
        exit 1
    fi
    /usr/bin/djpeg -dct int -ppm "$f" >"$tmp/pixels.ppm"
    read -r tu mu < <(best /usr/bin/cjpeg -quality 98 -sample 1x1 -dct int -outfile "$tmp/u.jpg" "$tmp/pixels.ppm")
    read -r to mo < <(best /usr/bin/cjpeg -quality 98 -sample 1x1 -dct int -optimize -outfile "$tmp/o.jpg" "$tmp/pixels.ppm")
    bp=$(stat -c %s "$out_p")
    bm=$(stat -c %s "$tmp/m.jpg")
    bu=$(stat -c %s "$tmp/u.jpg")
    sum_p=$((sum_p + bp)) sum_m=$((sum_m + bm)) sum_u=$((sum_u + bu))
    diff=$(awk -v a="$bp" -v b="$bm" 'BEGIN { printf "%+.2f %%", (a - b) * 100 / b }')
    mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
    echo "| $name | $bp | $bm | $diff | $bu | $tp / $(mb "$mp") | $tm / $(mb "$mm") | $tu / $(mb "$mu") | $to / $(mb "$mo") |"
    rm -f "$out_p"
done
echo
awk -v p="$sum_p" -v m="$sum_m" -v u="$sum_u" 'BEGIN {
    printf "total: pixavant %d bytes, ImageMagick %d bytes (%+.2f %%); unoptimised %d bytes (%+.1f %% over pixavant)\n",
        p, m, (p - m) * 100 / m, u, (u - p) * 100 / p }'
