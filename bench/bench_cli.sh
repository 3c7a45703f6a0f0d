#!/usr/bin/env bash
# Throughput and peak memory of `pixavant convert` against ImageMagick's convert, on the same files
# in the same run.
#
#   bench/bench_cli.sh [PHOTO_DIR]        (default: ../shared/testdata/photos beside the worktree)
#   PIXAVANT=path/to/pixavant ROUNDS=3 bench/bench_cli.sh
#
# pixavant runs with its start-up settings (JPEG quality factor 2, 24-bit colour, 72 dpi, same
# size), all files in one command. ImageMagick gets the equivalent: -quality 98, 4:4:4 sampling
# (-sampling-factor 1x1), 72 dpi, EXIF orientation applied (pixavant applies it at load), one
# convert per file. Rounds alternate between the two; the best round of each counts. Throughput is
# input bytes per second of wall-clock time and of CPU time (user + system); peak memory is the
# largest resident set of any process of the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pixavant="${PIXAVANT:-$root/build/pixavant}"
photos="${1:-$root/../../shared/testdata/photos}"
rounds="${ROUNDS:-3}"
magick="${MAGICK_CONVERT:-/usr/bin/convert}"

[ -x "$pixavant" ] || { echo "no pixavant at $pixavant (build it first)" >&2; exit 1; }
[ -x "$magick" ] || { echo "no ImageMagick convert at $magick" >&2; exit 1; }
mapfile -t files < <(find "$photos" -maxdepth 1 -type f | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no files in $photos" >&2; exit 1; }
bytes=$(cat "${files[@]}" | wc -c)

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/pixavant" "$tmp/magick"

# Prints "wall cpu maxrss_kb" for the command.
measure() {
    /usr/bin/time -f '%e %U %S %M' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/stderr" || {
        cat "$tmp/stderr" >&2
        exit 1
    }
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$tmp/time"
}

run_pixavant() { measure "$pixavant" convert -o "$tmp/pixavant" "${files[@]}"; }
run_magick() {
    measure bash -c '
        out=$1; shift; convert=$1; shift
        for f; do
            name=$(basename "$f"); name=${name%%.*}
            "$convert" "$f" -auto-orient -quality 98 -sampling-factor 1x1 -units PixelsPerInch \
                -density 72 "$out/$name.JPG"
        done' _ "$tmp/magick" "$magick" "${files[@]}"
}

best() { sort -n -k"$2" "$1" | head -1; }
: >"$tmp/p.txt"
: >"$tmp/m.txt"
for ((i = 1; i <= rounds; i++)); do
    run_pixavant >>"$tmp/p.txt"
    run_magick >>"$tmp/m.txt"
done

echo "rounds (wall s, cpu s, peak KiB):"
paste -d' ' <(sed 's/^/pixavant /' "$tmp/p.txt") <(sed 's/^/| ImageMagick /' "$tmp/m.txt") | sed 's/^/  /'
read -r p_wall _ _ < <(best "$tmp/p.txt" 1)
read -r _ p_cpu _ < <(best "$tmp/p.txt" 2)
read -r m_wall _ _ < <(best "$tmp/m.txt" 1)
read -r _ m_cpu _ < <(best "$tmp/m.txt" 2)
p_mem=$(sort -n -k3 "$tmp/p.txt" | tail -1 | awk '{print $3}')
m_mem=$(sort -n -k3 "$tmp/m.txt" | tail -1 | awk '{print $3}')
p_out=$(cat "$tmp"/pixavant/* | wc -c)
m_out=$(cat "$tmp"/magick/* | wc -c)

awk -v n="${#files[@]}" -v bytes="$bytes" -v pw="$p_wall" -v pc="$p_cpu" -v mw="$m_wall" \
    -v mc="$m_cpu" -v pm="$p_mem" -v mm="$m_mem" -v po="$p_out" -v mo="$m_out" -v r="$rounds" '
BEGIN {
    mb = bytes / 1e6
    printf "%d files, %.1f MB in, best of %d rounds\n", n, mb, r
    printf "%-12s %8s %8s %10s %10s %10s %9s\n", "", "wall s", "cpu s", "MB/s wall", "MB/s cpu", "peak MiB", "out MB"
    printf "%-12s %8.2f %8.2f %10.2f %10.2f %10.1f %9.1f\n", "pixavant", pw, pc, mb / pw, mb / pc, pm / 1024, po / 1e6
    printf "%-12s %8.2f %8.2f %10.2f %10.2f %10.1f %9.1f\n", "ImageMagick", mw, mc, mb / mw, mb / mc, mm / 1024, mo / 1e6
    printf "throughput ratio (pixavant / ImageMagick): wall %.2f, cpu %.2f (target >= 2.4)\n", mw / pw, mc / pc
    printf "peak memory ratio (pixavant / ImageMagick): %.2f (target <= 0.5)\n", pm / mm
}'
