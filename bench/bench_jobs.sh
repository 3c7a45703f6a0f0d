#!/usr/bin/env bash
# Throughput of `pixavant convert --jobs` on every core against one job, a libvips loop and
# ImageMagick's mogrify, and the peak memory per job; all on the same files in the same run.
#
#   bench/bench_jobs.sh [PHOTO_DIR]        (default: ../shared/testdata/photos beside the worktree)
#   PIXAVANT=path/to/pixavant ROUNDS=5 JOBS=2 OPTIMIZE=1 bench/bench_jobs.sh
#
# The job: every photo to JPEG at libjpeg quality 98 with 4:4:4 sampling, 72 dpi, same size.
# pixavant runs with its start-up settings (quality factor 2), all files in one command, with
# --jobs 1 and --jobs $JOBS (default: the number of processors). libvips: one
# `vips copy IN OUT[Q=98,no_subsample]` per file; mogrify: one command for all files. OPTIMIZE=1
# makes both optimise their Huffman tables, for a pixavant whose JPEG writer does, so that all
# compare at equal settings (default 0: none does); the output sizes are printed as a check.
#
# Rounds alternate between the commands; the best wall time of each counts. Peak memory is the
# largest resident set of the pixavant process over all rounds. The load average is printed before
# and after: figures taken on a loaded machine are only indicative.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
pixavant="${PIXAVANT:-$root/build/pixavant}"
photos="${1:-$root/../shared/testdata/photos}"
rounds="${ROUNDS:-3}"
jobs="${JOBS:-$(nproc)}"
if [ "${OPTIMIZE:-0}" = 1 ]; then
    vips_save=Q=98,no_subsample,optimize_coding
    mogrify_optimize=true
else
    vips_save=Q=98,no_subsample
    mogrify_optimize=false  # ImageMagick optimises by default when memory allows
fi
mogrify=/usr/bin/mogrify

for tool in "$pixavant" /usr/bin/vips "$mogrify" /usr/bin/time; do
    [ -x "$tool" ] || { echo "missing: $tool" >&2; exit 1; }
done
mapfile -t files < <(find "$photos" -maxdepth 1 -type f | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no files in $photos" >&2; exit 1; }
bytes=$(cat "${files[@]}" | wc -c)

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Runs the command into a fresh output directory $tmp/out; appends "wall cpu maxrss_kb" to $1.
measure() {
    local log=$1
    shift
    rm -rf "$tmp/out" && mkdir "$tmp/out"
    /usr/bin/time -f '%e %U %S %M' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/stderr" || {
        cat "$tmp/stderr" >&2
        exit 1
    }
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$tmp/time" >>"$log"
    du -cb "$tmp"/out/* | tail -1 | cut -f1 >"$log.size"
}

run_jobs1() { measure "$tmp/jobs1" "$pixavant" convert --jobs 1 -o "$tmp/out" "${files[@]}"; }
run_jobsn() { measure "$tmp/jobsn" "$pixavant" convert --jobs "$jobs" -o "$tmp/out" "${files[@]}"; }
run_vips() {
    measure "$tmp/vips" bash -c '
        out=$1; save=$2; shift 2
        for f; do
            name=$(basename "$f"); name=${name%%.*}
            vips copy "$f" "$out/$name.JPG[$save]"
        done' _ "$tmp/out" "$vips_save" "${files[@]}"
}
run_mogrify() {
    measure "$tmp/mogrify" "$mogrify" -path "$tmp/out" -format JPG -quality 98 \
        -sampling-factor 1x1 -units PixelsPerInch -density 72 \
        -define jpeg:optimize-coding="$mogrify_optimize" "${files[@]}"
}

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= rounds; i++)); do
    run_jobs1
    run_jobsn
    run_vips
    run_mogrify
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"

best() { sort -n -k1 "$tmp/$1" | head -1 | cut -d' ' -f1; }
cpu() { sort -n -k2 "$tmp/$1" | head -1 | cut -d' ' -f2; }
peak() { sort -n -k3 "$tmp/$1" | tail -1 | cut -d' ' -f3; }
echo "rounds (wall s, cpu s, peak KiB):"
for t in jobs1 jobsn vips mogrify; do
    printf '  %-8s %s\n' "$t" "$(tr '\n' '|' <"$tmp/$t" | sed 's/|$//; s/|/ | /g')"
done

awk -v n="${#files[@]}" -v mb="$(echo "$bytes / 1000000" | bc -l)" -v jobs="$jobs" \
    -v r="$rounds" -v j1="$(best jobs1)" -v jn="$(best jobsn)" -v vi="$(best vips)" \
    -v mo="$(best mogrify)" -v m1="$(peak jobs1)" -v mn="$(peak jobsn)" \
    -v c1="$(cpu jobs1)" -v cn="$(cpu jobsn)" -v cv="$(cpu vips)" -v cm="$(cpu mogrify)" \
    -v s1="$(cat "$tmp/jobs1.size")" -v sn="$(cat "$tmp/jobsn.size")" \
    -v sv="$(cat "$tmp/vips.size")" -v sm="$(cat "$tmp/mogrify.size")" '
BEGIN {
    printf "%d files, %.1f MB in, best wall and processor times of %d rounds\n", n, mb, r
    printf "  %-22s %7s %7s %9s %9s\n", "", "wall s", "cpu s", "peak MiB", "out MB"
    printf "  %-22s %7.2f %7.2f %9.1f %9.2f\n", "pixavant --jobs 1", j1, c1, m1 / 1024, s1 / 1e6
    printf "  %-22s %7.2f %7.2f %9.1f %9.2f\n", "pixavant --jobs " jobs, jn, cn, mn / 1024, sn / 1e6
    printf "  %-22s %7.2f %7.2f %9s %9.2f\n", "vips copy loop", vi, cv, "", sv / 1e6
    printf "  %-22s %7.2f %7.2f %9s %9.2f\n", "mogrify", mo, cm, "", sm / 1e6
    printf "--jobs %d against --jobs 1: %.2fx (target >= 1.7 on 2 cores)\n", jobs, j1 / jn
    printf "--jobs %d against vips:     %.2fx (target >= 2)\n", jobs, vi / jn
    printf "--jobs %d against mogrify:  %.2fx (target >= 2.5)\n", jobs, mo / jn
    printf "peak per job: %.1f MiB, %.2fx the one-job peak (target <= 1.1)\n", \
        mn / jobs / 1024, mn / jobs / m1
}'
