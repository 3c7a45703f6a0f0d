#!/usr/bin/python3
"""PIXAVANT's bytes and time per encoder effort, against an optimised JPEG that looks as good.

lossy (the default): every image is written as PIXAVANT lossy at each level and effort by
   bench_compression (PIXAVANT's own writer), decoded by PIXAVANT's reader, and measured with
   Debian's `butteraugli` and with SSIM (skimage). Against each output stands an optimised JPEG
   (4:4:4, optimised Huffman tables, libjpeg-turbo through Pillow) of the same butteraugli
   distance (and, separately, of the same SSIM): the JPEG of each image is measured on a grid of
   qualities, the measure made monotonic in the quality (butteraugli is not: it rises by up to a
   unit from one quality to the next), and the bytes interpolated between the two qualities
   around the target. --bisect adds the JPEG found by bisecting the whole-number quality, the
   smallest whose measured butteraugli is no larger. The table gives the bytes of all images
   together against those JPEGs, and the encoder's CPU time (the time on one core). With --jxl,
   libjxl encodes with the frame settings given (at --distances of its own), to try settings.
lossless, bilevel, lossy-size: the bytes and CPU time of PIXAVANT lossless (colour and gray
   pages), 1-bit (black and white pages) or lossy (at the first of --levels, no JPEG) per effort,
   and each effort's size against the default's.

Inputs are PNGs or any image Pillow reads; the pages of multi-page TIFFs count as images. With
--crop MP, each image is cut to MP megapixels around its centre (butteraugli on a whole
24-megapixel photo takes minutes). Every measurement is kept in the cache directory, so a rerun,
or a run with more efforts, repeats none of them.

Bench-only dependencies (Debian): butteraugli python3-skimage python3-pil (and djxl, for
--jxl: libjxl-tools, which scripts/deps installs)
    apt-get install -y --no-install-recommends butteraugli python3-skimage python3-pil

Usage:
    bench/bench_effort.py [--build build] [--efforts 4-7] [--levels 0-8] [--crop 1] FILE|DIR...
    bench/bench_effort.py --jxl "epf=3" --distances 1,2,4.5 ../shared/testdata/kodak
    bench/bench_effort.py --mode lossless --efforts 1-7 ../shared/testdata/kodak
    bench/bench_effort.py --mode bilevel --efforts 1-9 ../shared/testdata/documents
Run it niced on a shared machine: nice -n 10 bench/bench_effort.py ...
"""

import argparse
import hashlib
import io
import json
import os
import resource
import subprocess
import sys
import time
from pathlib import Path

try:
    import numpy as np
    from PIL import Image, ImageSequence
    from skimage.metrics import structural_similarity
except ImportError as error:  # pragma: no cover
    sys.exit(f"{error}: install the bench dependencies:\n"
             "  apt-get install -y --no-install-recommends butteraugli python3-skimage python3-pil")

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from bench_compression import ssim as ssim_of, write_pnm  # noqa: E402
CODES = {"lossy": 5, "lossy-size": 5, "lossless": 30, "bilevel": 26}


def number_range(text):
    """'4-7' or '1,3,5' or '7' as a list of integers."""
    values = []
    for part in text.split(","):
        first, _, last = part.partition("-")
        values.extend(range(int(first), int(last or first) + 1))
    return values


class Missing(Exception):
    """A measurement not in the cache, with --cached-only."""


class Cache:
    """Measurements of one image, kept as JSON in the cache directory."""
    read_only = False

    def __init__(self, directory, key):
        self.path = Path(directory) / f"{key}.json"
        self.data = json.loads(self.path.read_text()) if self.path.exists() else {}

    def get(self, key, compute):
        if key not in self.data:
            if Cache.read_only:
                raise Missing(key)
            self.put(key, compute())
        return self.data[key]

    def put(self, key, value):
        if Cache.read_only:
            raise Missing(key)
        # Another run may have measured other things of this image meanwhile: keep them.
        if self.path.exists():
            self.data = {**json.loads(self.path.read_text()), **self.data}
        self.data[key] = value
        temporary = self.path.with_suffix(f".{os.getpid()}.tmp")
        temporary.write_text(json.dumps(self.data, indent=0, sort_keys=True))
        temporary.replace(self.path)


def read_pnm(path):
    return np.asarray(Image.open(path))


def butteraugli(reference_png, pixels, workdir):
    """Debian's butteraugli distance between the reference PNG and these pixels."""
    candidate = Path(workdir) / "candidate.png"
    image = Image.fromarray(pixels)
    image.convert("RGB").save(candidate, compress_level=1)
    result = subprocess.run(["butteraugli", str(reference_png), str(candidate)], check=True,
                            capture_output=True, text=True)
    return float(result.stdout.split()[0])


def images(paths, mode, crop):
    """(name, pixels) of every image (every page) of the paths, as the mode takes them."""
    files = []
    for path in map(Path, paths):
        files.extend(sorted(p for p in path.iterdir() if p.is_file()) if path.is_dir() else [path])
    for file in files:
        try:
            source = Image.open(file)
        except OSError:
            continue
        pages = list(ImageSequence.Iterator(source))
        for number, page in enumerate(pages, 1):
            name = file.name if len(pages) == 1 else f"{file.name}[{number}]"
            bilevel = page.mode == "1"
            if mode == "bilevel":
                if not bilevel:
                    continue
                pixels = np.asarray(page.convert("L"))
            elif mode == "lossless":
                if bilevel:
                    continue
                pixels = np.asarray(page.convert("L" if page.mode in ("L", "I;16", "I") else "RGB"))
            else:
                pixels = np.asarray(page.convert("RGB"))
            if crop:
                pixels = centre_crop(pixels, crop)
            yield name, pixels


def centre_crop(pixels, megapixels):
    height, width = pixels.shape[:2]
    scale = min(1.0, (megapixels * 1e6 / (width * height)) ** 0.5)
    w, h = int(width * scale) // 8 * 8, int(height * scale) // 8 * 8
    top, left = (height - h) // 2, (width - w) // 2
    return np.ascontiguousarray(pixels[top:top + h, left:left + w])


def image_key(pixels):
    digest = hashlib.sha1(pixels.tobytes())
    digest.update(repr(pixels.shape).encode())
    return digest.hexdigest()[:16]


def encode(tool, pnm, code, quality, effort, workdir, decode):
    out = Path(workdir) / "out.jxl"
    decoded = Path(workdir) / "decoded.pnm"
    result = subprocess.run([tool, "encode", str(pnm), str(code), str(quality), str(out),
                             str(decoded) if decode else "-", str(effort)],
                            check=True, capture_output=True, text=True)
    size, seconds, cpu = result.stdout.split()[:3]
    return int(size), float(seconds), float(cpu), read_pnm(decoded) if decode else None


def jpeg(pixels, quality):
    buffer = io.BytesIO()
    image = Image.fromarray(pixels)
    start = time.process_time()
    image.save(buffer, "JPEG", quality=quality, subsampling=0, optimize=True, progressive=False)
    seconds = time.process_time() - start
    decoded = np.asarray(Image.open(io.BytesIO(buffer.getvalue())).convert(image.mode))
    return buffer.tell(), seconds, decoded


# The JPEG qualities measured for each image. Butteraugli is too slow to bisect the quality for
# every output, and it is not monotonic in the quality (it rises by up to a unit from one quality
# to the next), so a bisection lands on whichever side of a bump it meets and the whole-number
# quality rounds the JPEG up by up to one step (5 to 9 % of its bytes at the ends of the scale).
GRID = (1, 3, 5, 8, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 88, 90, 92, 94,
        96, 98, 100)


def monotone(values, rising):
    """The closest sequence that never falls (rising) or never rises: pooled adjacent violators."""
    blocks = []  # [mean, count]
    for value in values:
        blocks.append([value, 1])
        while len(blocks) > 1 and ((blocks[-2][0] > blocks[-1][0]) if rising
                                   else (blocks[-2][0] < blocks[-1][0])):
            mean, count = blocks.pop()
            blocks[-1] = [(blocks[-1][0] * blocks[-1][1] + mean * count) / (blocks[-1][1] + count),
                          blocks[-1][1] + count]
    return [mean for mean, count in blocks for _ in range(count)]


class JpegCurve:
    """The optimised JPEGs of one image on the quality grid, and the bytes a JPEG of a given
    butteraugli distance or SSIM takes: the measures made monotonic in the quality, the bytes
    interpolated (logarithmically) between the two qualities that bracket the target."""

    def __init__(self, pixels, reference_png, cache, workdir):
        self.pixels, self.reference, self.cache, self.workdir = pixels, reference_png, cache, workdir

    def at(self, quality, measure_butteraugli=False):
        key = f"jpeg q{quality}"

        def measure():
            size, seconds, decoded = jpeg(self.pixels, quality)
            return {"bytes": size, "seconds": seconds, "ssim": float(ssim_of(self.pixels, decoded))}
        record = self.cache.get(key, measure)
        if measure_butteraugli and "butteraugli" not in record:
            _, _, decoded = jpeg(self.pixels, quality)
            record["butteraugli"] = butteraugli(self.reference, decoded, self.workdir)
            self.cache.put(key, record)
        return record

    def points(self, metric):
        """(fitted measure, bytes) on the grid, by rising quality."""
        records = [self.at(quality, metric == "butteraugli") for quality in GRID]
        fitted = monotone([r[metric] for r in records], rising=metric == "ssim")
        return list(zip(fitted, (r["bytes"] for r in records)))

    def reversals(self, metric="butteraugli"):
        """How many grid steps the measure got worse as the quality rose, and out of how many."""
        values = [self.at(q, metric == "butteraugli")[metric] for q in GRID]
        worse = sum((b > a) if metric == "butteraugli" else (b < a) for a, b in zip(values, values[1:]))
        return worse, len(values) - 1

    def bytes_for(self, metric, target):
        """The bytes of a JPEG whose measure equals the target (at best quality 100, at worst 1)."""
        points = self.points(metric)
        good = (lambda v: v <= target) if metric == "butteraugli" else (lambda v: v >= target)
        for index, (value, size) in enumerate(points):
            if good(value):
                if index == 0:
                    return float(size)
                before_value, before_size = points[index - 1]
                share = (target - before_value) / (value - before_value)
                return float(np.exp(np.log(before_size) + share * (np.log(size) - np.log(before_size))))
        return float(points[-1][1])

    def bisected(self, good, metric):
        """The lowest quality whose JPEG is good, by bisection as a person would search (the
        former method, kept for comparison); quality 100 when none is."""
        slow = metric == "butteraugli"
        low, high, best = 1, 100, 100
        while low <= high:
            quality = (low + high) // 2
            if good(self.at(quality, slow)):
                best, high = quality, quality - 1
            else:
                low = quality + 1
        return self.at(best, slow)


def libjxl(tool, pnm, distance, effort, options, workdir):
    """libjxl called directly with frame settings of its own (to try settings before the writer
    takes them): bytes, CPU seconds and the pixels djxl decodes. Its files are PIXAVANT's without
    the container's few dozen bytes."""
    out, decoded = Path(workdir) / "try.jxl", Path(workdir) / "try.png"
    result = subprocess.run([tool, "jxl", str(pnm), str(out), f"{distance:g}", str(effort),
                             *options.split()], check=True, capture_output=True, text=True)
    size, cpu = result.stdout.split()[:2]
    subprocess.run(["djxl", str(out), str(decoded)], check=True, capture_output=True)
    return int(size), float(cpu), np.asarray(Image.open(decoded).convert("RGB"))


def lossy(args, tool, distances, workdir):
    rows = {}  # (level, effort) -> sums
    reversals = [0, 0]
    for name, pixels in images(args.inputs, "lossy", args.crop):
        key = image_key(pixels)
        cache = Cache(args.cache, key)
        reference = Path(args.cache) / f"{key}.png"
        if not reference.exists() and not args.cached_only:
            Image.fromarray(pixels).save(reference)
        pnm = Path(workdir) / "in.ppm"
        write_pnm(pnm, pixels)
        curve = JpegCurve(pixels, reference, cache, workdir)
        for effort in args.efforts:
            for level in args.levels:
                distance = distances[level]

                def measure():
                    if args.jxl is not None:
                        size, cpu, decoded = libjxl(tool, pnm, distance, effort, args.jxl, workdir)
                        seconds = cpu
                    else:
                        size, seconds, cpu, decoded = encode(tool, pnm, 5, -(level + 1), effort,
                                                             workdir, True)
                    return {"bytes": size, "seconds": seconds, "cpu": cpu,
                            "butteraugli": butteraugli(reference, decoded, workdir),
                            "ssim": float(ssim_of(pixels, decoded))}
                what = "pixavant" if args.jxl is None else f"libjxl {args.jxl}".strip()
                try:
                    ours = cache.get(f"{what} d{distance} e{effort}", measure)
                    by_butteraugli = curve.bytes_for("butteraugli", ours["butteraugli"])
                    by_ssim = curve.bytes_for("ssim", ours["ssim"])
                    bisected = curve.bisected(lambda j: j["butteraugli"] <= ours["butteraugli"],
                                              "butteraugli")["bytes"] if args.bisect else 0
                except Missing:
                    continue
                sums = rows.setdefault((level, effort), [0, 0.0, 0.0, 0, 0.0, 0.0, 0])
                for index, value in enumerate((ours["bytes"], by_butteraugli, by_ssim, bisected,
                                               ours["cpu"], ours["butteraugli"], 1)):
                    sums[index] += value
                if args.verbose:
                    print(f"{name} level {level} effort {effort}: {ours['bytes']} bytes, "
                          f"butteraugli {ours['butteraugli']:.3f}, SSIM {ours['ssim']:.4f}; JPEG "
                          f"{by_butteraugli:.0f} / {by_ssim:.0f}", file=sys.stderr)
        try:
            worse, steps = curve.reversals()
            reversals[0] += worse
            reversals[1] += steps
        except Missing:
            pass
        print(f"{name}: done", file=sys.stderr)
    count = max((sums[6] for sums in rows.values()), default=0)
    encoder = "PIXAVANT" if args.jxl is None else f"libjxl {args.jxl}".strip()
    print(f"{encoder} lossy against optimised JPEG (4:4:4, optimised Huffman) of equal quality, "
          f"{count} images; time: encoder CPU seconds, all images")
    print(f"(JPEG's butteraugli rose with the quality at {reversals[0]} of {reversals[1]} steps of "
          f"its quality grid)")
    bisection_head = " vs JPEG, bisected quality |" if args.bisect else ""
    print(f"| level | distance | effort | {encoder} bytes | vs JPEG, equal butteraugli |"
          f"{bisection_head} vs JPEG, equal SSIM | time s | mean butteraugli |")
    print("|---|---|---|---|---|---|---|---|" + ("---|" if args.bisect else ""))
    for (level, effort), (ours, by_b, by_s, bisected, cpu, dist, n) in sorted(rows.items()):
        bisection = f" {ours / bisected - 1:+.1%} |" if args.bisect else ""
        print(f"| {level} | {distances[level]:g} | {effort} | {ours} | {ours / by_b - 1:+.1%} |"
              f"{bisection} {ours / by_s - 1:+.1%} | {cpu:.2f} | {dist / n:.3f} |")


def sizes(args, tool, default_effort, workdir):
    code = CODES[args.mode]
    quality = -(args.levels[0] + 1) if code == 5 else 0
    name_of = f"level {args.levels[0]}" if code == 5 else ""
    rows = {}
    for name, pixels in images(args.inputs, args.mode, args.crop):
        cache = Cache(args.cache, image_key(pixels))
        pnm = Path(workdir) / ("in.pgm" if pixels.ndim == 2 else "in.ppm")
        write_pnm(pnm, pixels)
        results = {}
        for effort in args.efforts:
            def measure():
                size, seconds, cpu, _ = encode(tool, pnm, code, quality, effort, workdir, False)
                return {"bytes": size, "seconds": seconds, "cpu": cpu}
            try:
                results[effort] = cache.get(f"code {code}{quality or ''} e{effort}", measure)
            except Missing:
                break
        if len(results) < len(args.efforts):
            continue  # every effort on the same images
        for effort, result in results.items():
            sums = rows.setdefault(effort, [0, 0.0, 0])
            sums[0] += result["bytes"]
            sums[1] += result["cpu"]
            sums[2] += 1
        print(f"{name}: done", file=sys.stderr)
    base = rows.get(default_effort)
    count = max((sums[2] for sums in rows.values()), default=0)
    print(f"PIXAVANT {args.mode} {name_of} per effort, {count} images; time: encoder CPU seconds, all images"
          f" (default effort {default_effort})")
    print("| effort | bytes | vs default | time s | time vs default |")
    print("|---|---|---|---|---|")
    for effort, (size, cpu, _) in sorted(rows.items()):
        against = f"{size / base[0] - 1:+.1%} | {cpu:.2f} | {cpu / base[1]:.2f} x" if base else \
            f"- | {cpu:.2f} | -"
        print(f"| {effort} | {size} | {against} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("inputs", nargs="+", help="images or directories of images")
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--mode", choices=sorted(CODES), default="lossy")
    parser.add_argument("--efforts", type=number_range, help="for example 4-7 or 3,5,7")
    parser.add_argument("--levels", type=number_range,
                        help="lossy levels, 0 to 8 (default all)")
    parser.add_argument("--crop", type=float, help="cut each image to this many megapixels")
    parser.add_argument("--cache", default="/tmp/pixavant-bench-effort")
    parser.add_argument("--jxl", metavar="SETTINGS",
                        help="lossy: encode with libjxl and these frame settings (\"epf=3 "
                             "resampling=2\", \"\" for none) instead of PIXAVANT's writer")
    parser.add_argument("--distances", type=lambda text: [float(d) for d in text.split(",")],
                        help="with --jxl: the distance of each level instead of PIXAVANT's")
    parser.add_argument("--bisect", action="store_true",
                        help="also against the JPEG found by bisecting its quality")
    parser.add_argument("--verbose", action="store_true", help="each image's figures on stderr")
    parser.add_argument("--cached-only", action="store_true",
                        help="measure nothing: the table of what the cache holds")
    args = parser.parse_args()
    Cache.read_only = args.cached_only
    tool = str(Path(args.build) / "bench" / "bench_compression")
    if not os.access(tool, os.X_OK):
        sys.exit(f"{tool} not found: build the target bench_compression first")
    settings = subprocess.run([tool, "settings"], check=True, capture_output=True,
                              text=True).stdout.split("\n")
    distances = {int(f[1]): float(f[2]) for f in map(str.split, settings) if f and f[0] == "distance"}
    defaults = {int(f[1]): int(f[-1]) for f in map(str.split, settings) if f and f[0] == "effort"}
    if args.distances:
        if args.jxl is None:
            sys.exit("--distances needs --jxl: PIXAVANT's writer has its own")
        distances = dict(enumerate(args.distances))
    if args.levels is None:
        args.levels = sorted(distances)
    args.levels = [level for level in args.levels if level in distances]
    default_effort = defaults[CODES[args.mode]]
    if args.efforts is None:  # the default (of the last level, for lossy files)
        args.efforts = [default_effort]
    Path(args.cache).mkdir(parents=True, exist_ok=True)
    workdir = Path(args.cache) / f"work-{os.getpid()}"
    workdir.mkdir(exist_ok=True)
    try:
        if args.mode == "lossy":
            lossy(args, tool, distances, workdir)
        else:
            sizes(args, tool, default_effort, workdir)
    finally:
        for file in workdir.iterdir():
            file.unlink()
        workdir.rmdir()


if __name__ == "__main__":
    main()
