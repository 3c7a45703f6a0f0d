#!/usr/bin/env bash
# PIXAVANT encoding against libjxl's own tools, photo by photo, and its peak memory.
#
#   bench/bench_pixavant.sh [PHOTO_DIR]   (default: ../shared/testdata/photos beside the worktree)
#   PIXAVANT=path/to/pixavant ROUNDS=3 bench/bench_pixavant.sh
#
# lossy:    `pixavant convert --compression pixavant` (level 0: distance 1, effort 4) against
#           `djpeg | cjxl -e 4 -d 1` on the same file (decode and encode, both from the JPEG);
#           the aim is within 1.3 x of cjxl's time.
# lossless: `pixavant convert --compression pixavant-lossless` of the JPEG, carried over, against
#           the same pixels encoded lossless (from a TIFF copy), and its size
#           against the source; `djxl` must give back the source bit for bit.
# Times are the best of ROUNDS wall-clock runs; memory the largest resident set of any round.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pixavant="${PIXAVANT:-$root/build/pixavant}"
photos="${1:-$root/../shared/testdata/photos}"
rounds="${ROUNDS:-3}"
for tool in djpeg cjxl djxl /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "needs $tool (libjpeg-turbo-progs, libjxl-tools, time)" >&2; exit 1; }
done
[ -x "$pixavant" ] || { echo "no pixavant at $pixavant (build it first)" >&2; exit 1; }
mapfile -t files < <(find -L "$photos" -maxdepth 1 -type f -name '*.jpg' | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no photos in $photos" >&2; exit 1; }

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Prints "seconds peak_kib" of the best of $rounds runs of the command.
best() {
    local bestTime="" peak=0
    for ((i = 0; i < rounds; i++)); do
        /usr/bin/time -f '%e %M' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err" || {
            cat "$tmp/err" >&2
            exit 1
        }
        read -r t m <"$tmp/time"
        if [ -z "$bestTime" ] || awk -v a="$t" -v b="$bestTime" 'BEGIN { exit !(a < b) }'; then
            bestTime=$t
        fi
        [ "$m" -gt "$peak" ] && peak=$m
    done
    echo "$bestTime $peak"
}

echo "load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, $rounds rounds"
printf '%-42s %6s | %7s %7s %5s %7s | %7s %7s %5s | %7s %6s %7s %s\n' photo MP \
    lossy_s cjxl_s ratio peak_MB carry_s pixel_s ratio size_% peak_MB lossy_KB exact
for f in "${files[@]}"; do
    name=$(basename "$f")
    stem=${name%%.*}
    mp=$(identify -format '%w %h' "$f" 2>/dev/null | awk '{ print $1 * $2 / 1e6 }')
    mkdir -p "$tmp/p" "$tmp/l" "$tmp/t" "$tmp/tl"
    read -r lossy lossyPeak < <(best "$pixavant" convert --compression pixavant --ext JXL -o "$tmp/p" "$f")
    read -r ref _ < <(best bash -c 'djpeg "$1" > "$2/in.ppm" && cjxl -e 4 -d 1 "$2/in.ppm" "$2/ref.jxl"' _ "$f" "$tmp")
    read -r carry carryPeak < <(best "$pixavant" convert --compression pixavant-lossless --ext JXL -o "$tmp/l" "$f")
    # The same pixels through the pixel-lossless encoder: a TIFF copy as the source.
    "$pixavant" convert --compression lzw --ext tif -o "$tmp/t" "$f" >/dev/null
    read -r pixel _ < <(best "$pixavant" convert --compression pixavant-lossless --ext JXL -o "$tmp/tl" "$tmp/t/$stem.tif")
    djxl "$tmp/l/$stem.JXL" "$tmp/back.jpg" >/dev/null 2>&1
    exact=no
    cmp -s "$tmp/back.jpg" "$f" && exact=yes
    size=$(stat -L -c %s "$f")
    carried=$(stat -c %s "$tmp/l/$stem.JXL")
    lossyKb=$(( $(stat -c %s "$tmp/p/$stem.JXL") / 1024 ))
    printf '%-42s %6.1f | %7.2f %7.2f %5.2f %7d | %7.2f %7.2f %5.2f %6.1f%% %7d %7d %s\n' \
        "$name" "$mp" "$lossy" "$ref" "$(awk -v a="$lossy" -v b="$ref" 'BEGIN { print a / b }')" \
        $((lossyPeak / 1024)) "$carry" "$pixel" "$(awk -v a="$carry" -v b="$pixel" 'BEGIN { print a / b }')" \
        "$(awk -v a="$carried" -v b="$size" 'BEGIN { print 100 * (1 - a / b) }')" \
        $((carryPeak / 1024)) "$lossyKb" "$exact"
    rm -rf "$tmp/p" "$tmp/l" "$tmp/t" "$tmp/tl"
done
echo "ratio: PIXAVANT time / reference time (lossy aim <= 1.3); size_%: how much smaller than the source"
