#!/usr/bin/env bash
# Cost of reading through GraphicsMagick (BMP, TGA, PCX): each made from the largest benchmark
# photograph, converted to TIFF LZW at its own size by the given pixavant binaries in turn.
#   bench/magick_read.sh [PIXAVANT [OTHER_PIXAVANT]] [PHOTO]
# PIXAVANT defaults to build/pixavant; OTHER_PIXAVANT (say, a build of main) is timed alike.
# Needs hyperfine and ImageMagick's convert (/usr/bin/convert).
set -euo pipefail
cd "$(dirname "$0")/.."
binaries=()
photo=$(ls -S /work/shared/testdata/photos/*.jpg 2>/dev/null | head -1 || true)
for arg in "$@"; do
    case "$arg" in
        *.jpg|*.JPG) photo=$arg ;;
        *) binaries+=("$(realpath "$arg")") ;;
    esac
done
[ ${#binaries[@]} -gt 0 ] || binaries=("$PWD/build/pixavant")
[ -n "$photo" ] || { echo "no photograph given or found" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/convert "$photo" -type TrueColor "$work/photo.bmp"
/usr/bin/convert "$photo" "$work/photo.tga"
/usr/bin/convert "$photo" "$work/photo.pcx"
echo "source: $photo ($(/usr/bin/identify -format '%w x %h' "$photo")); load: $(cut -d' ' -f1-3 /proc/loadavg)"
for file in "$work"/photo.bmp "$work"/photo.tga "$work"/photo.pcx; do
    commands=()
    for binary in "${binaries[@]}"; do
        commands+=("$binary convert --size 0x0 --compression lzw -o $work/out $file")
    done
    hyperfine --warmup 1 --runs 5 --prepare "rm -rf $work/out; mkdir $work/out" "${commands[@]}"
done
