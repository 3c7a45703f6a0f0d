#!/bin/bash
# The verification figures per level of a verified run: for each level, the floor and the lowest
# and median PSNR of the outputs read back, per folder, from the run's own manifest.
#   bench/verify_levels.sh build/pixavant ../shared/testdata/photos ../shared/testdata/exif
set -euo pipefail
pixavant=$(realpath "$1")
shift
folders=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "| level | floor dB | lowest / median dB, per folder: ${folders[*]} | passed |"
echo "|---|---|---|---|"
for spec in "jpeg 0" "jpeg 5" "jpeg 10" "jpeg 15" "jpeg 20" "jpeg 25" \
    "pixavant 0" "pixavant 4" "pixavant 8"; do
    read -r compression level <<<"$spec"
    rm -rf "$work/out" && mkdir "$work/out"
    "$pixavant" convert --recursive --keep-going --verify --manifest "$work/out/m.jsonl" \
        --compression "$compression" --level "$level" -o "$work/out" "${folders[@]}" >/dev/null 2>&1 || true
    python3 - "$spec" "$work/out/m.jsonl" "${folders[@]}" <<'PY'
import json, statistics, sys
rows = [json.loads(line) for line in open(sys.argv[2])]
cells = []
for folder in sys.argv[3:]:
    name = "/" + folder.rstrip("/").split("/")[-1] + "/"
    figures = [r.get("psnr_db", float("inf")) for r in rows if name in r["source"]]
    cells.append(f"{min(figures):.2f} / {statistics.median(figures):.2f}" if figures else "-")
passed = sum(r["verification"] == "passed" for r in rows)
print(f"| {sys.argv[1]} | {rows[0].get('floor_db', '-') if rows else '-'} | {' ; '.join(cells)} | {passed}/{len(rows)} |")
PY
done
