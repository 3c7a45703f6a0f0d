#!/usr/bin/env python3
"""Compression benchmark of the PIXAVANT formats against JPEG and CCITT G4.

1. Photographs (default: the Kodak set in testdata/kodak): each is written as PIXAVANT lossy at
   levels -2, -3 and -4 by bench_compression (PIXAVANT's own writer), decoded again by PIXAVANT's
   reader, and its SSIM measured. Then the smallest baseline 4:4:4 JPEG of at least the same SSIM
   is found by bisection over the libjpeg quality scale (libjpeg-turbo through Pillow, with the
   settings of PIXAVANT's JPEG writer: standard tables scaled, standard Huffman tables), and the
   bytes compared.
2. A text page (the `ls` manual page rendered at 200 dpi, thresholded to black and white): PIXAVANT
   1-bit against TIFF CCITT G4 (`tiffcp -c g4`).
   With --scan FILE, the same for a scanned black and white page.
3. With --photo FILE: the time of a lossy write of one large photograph, with every core and on
   one core per effort.

Bench-only dependencies (Debian): python3-skimage python3-pil ghostscript groff libtiff-tools
    apt-get install -y --no-install-recommends python3-skimage python3-pil ghostscript groff libtiff-tools

Usage: bench/bench_compression.py [--build build] [--kodak DIR] [--photo FILE] [--scan FILE]
"""

import argparse
import io
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

try:
    import numpy as np
    from PIL import Image
    from skimage.metrics import structural_similarity
except ImportError as error:  # pragma: no cover
    sys.exit(f"{error}: install the bench dependencies:\n"
             "  apt-get install -y --no-install-recommends python3-skimage python3-pil")

ROOT = Path(__file__).resolve().parent.parent
LEVELS = (-2, -3, -4)


def write_pnm(path, pixels):
    height, width = pixels.shape[:2]
    magic = b"P5" if pixels.ndim == 2 else b"P6"
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n255\n" % (magic, width, height))
        f.write(np.ascontiguousarray(pixels, dtype=np.uint8).tobytes())


def read_pnm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 2
    while len(fields) < 3:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while data[pos:pos + 1].isdigit():
            pos += 1
        fields.append(int(data[start:pos]))
    pos += 1
    width, height, _ = fields
    channels = 1 if data[:2] == b"P5" else 3
    pixels = np.frombuffer(data, dtype=np.uint8, count=width * height * channels, offset=pos)
    return pixels.reshape((height, width) if channels == 1 else (height, width, 3))


def ssim(a, b):
    if a.ndim == 3:
        return structural_similarity(a, b, channel_axis=2, data_range=255)
    return structural_similarity(a, b, data_range=255)


def pixavant(tool, pnm, code, quality, workdir):
    out = Path(workdir) / "out.jxl"
    decoded = Path(workdir) / "decoded.pnm"
    result = subprocess.run([tool, "encode", str(pnm), str(code), str(quality), str(out), str(decoded)],
                            check=True, capture_output=True, text=True)
    size, seconds = result.stdout.split()[:2]
    return int(size), float(seconds), read_pnm(decoded)


def jpeg(pixels, quality):
    buffer = io.BytesIO()
    image = Image.fromarray(pixels)
    start = time.perf_counter()
    image.save(buffer, "JPEG", quality=quality, subsampling=0, optimize=False, progressive=False)
    seconds = time.perf_counter() - start
    decoded = np.asarray(Image.open(io.BytesIO(buffer.getvalue())).convert(image.mode))
    return buffer.tell(), seconds, decoded


def jpeg_at_ssim(pixels, target):
    """The smallest JPEG whose SSIM reaches target: bisection over quality 1..100."""
    low, high = 1, 100
    best = None
    while low <= high:
        quality = (low + high) // 2
        size, seconds, decoded = jpeg(pixels, quality)
        score = ssim(pixels, decoded)
        if score >= target:
            best = (quality, size, seconds, score)
            high = quality - 1
        else:
            low = quality + 1
    if best is None:  # even the best JPEG does not reach it
        size, seconds, decoded = jpeg(pixels, 100)
        best = (100, size, seconds, ssim(pixels, decoded))
    return best


def photos(tool, kodak, workdir):
    files = sorted(Path(kodak).glob("*.png"))
    print(f"== Photographs: {len(files)} files from {kodak}")
    print(f"{'file':12} {'level':>5} {'SSIM':>7} {'PIXAVANT':>9} {'enc s':>6} {'JPEG q':>6} {'SSIM':>7}"
          f" {'JPEG':>9} {'enc s':>6} {'saving':>7}")
    totals = {level: [0, 0] for level in LEVELS}
    for file in files:
        pixels = np.asarray(Image.open(file).convert("RGB"))
        pnm = Path(workdir) / "in.ppm"
        write_pnm(pnm, pixels)
        for level in LEVELS:
            size, seconds, decoded = pixavant(tool, pnm, 5, level, workdir)
            score = ssim(pixels, decoded)
            quality, jsize, jseconds, jscore = jpeg_at_ssim(pixels, score)
            totals[level][0] += size
            totals[level][1] += jsize
            print(f"{file.stem:12} {level:5} {score:7.4f} {size:9} {seconds:6.3f} {quality:6} {jscore:7.4f}"
                  f" {jsize:9} {jseconds:6.3f} {1 - size / jsize:7.1%}")
    for level, (ours, theirs) in totals.items():
        print(f"level {level}: PIXAVANT {ours} bytes, JPEG {theirs} bytes at equal SSIM:"
              f" {1 - ours / theirs:.1%} smaller")


def text_page(tool, workdir, scan=None):
    if scan:
        print(f"== Scanned page: {scan}")
        gray = np.asarray(Image.open(scan).convert("L"))
    else:
        print("== Text page: `man -t ls`, first page at 200 dpi, thresholded at 50 %")
        ps = subprocess.run(["man", "-t", "ls"], check=True, capture_output=True).stdout
        png = Path(workdir) / "page.png"
        subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pnggray", "-r200",
                        "-dFirstPage=1", "-dLastPage=1", f"-sOutputFile={png}", "-"], input=ps,
                       check=True)
        gray = np.asarray(Image.open(png).convert("L"))
    bilevel = np.where(gray < 128, 0, 255).astype(np.uint8)
    pgm = Path(workdir) / "page.pgm"
    write_pnm(pgm, bilevel)
    size, seconds, decoded = pixavant(tool, pgm, 26, 0, workdir)
    assert np.array_equal(decoded, bilevel), "1-bit file is not lossless"

    raw = Path(workdir) / "page_raw.tif"
    g4 = Path(workdir) / "page_g4.tif"
    Image.fromarray(bilevel).convert("1").save(raw, compression="raw", dpi=(200, 200))
    start = time.perf_counter()
    subprocess.run(["tiffcp", "-c", "g4", str(raw), str(g4)], check=True)
    g4seconds = time.perf_counter() - start
    g4size = g4.stat().st_size
    height, width = bilevel.shape
    print(f"page {width} x {height}: PIXAVANT 1-bit {size} bytes ({seconds:.3f} s),"
          f" TIFF G4 {g4size} bytes ({g4seconds:.3f} s): {size / g4size:.1%} of G4")


def large_photo(tool, photo, workdir):
    pixels = np.asarray(Image.open(photo).convert("RGB"))
    pnm = Path(workdir) / "photo.ppm"
    write_pnm(pnm, pixels)
    height, width = pixels.shape[:2]
    print(f"== {Path(photo).name}: {width} x {height} ({width * height / 1e6:.1f} MP)")
    for level in LEVELS:
        size, seconds, _ = pixavant(tool, pnm, 5, level, workdir)
        print(f"level {level}: {size} bytes in {seconds:.3f} s, all cores ({os.cpu_count()})")
    print("one core, distance 1.0, by effort:")
    print(subprocess.run([tool, "efforts", str(pnm), "lossy", "0"], check=True, capture_output=True,
                         text=True).stdout, end="")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--kodak", default=next(
        (str(d) for d in (ROOT.parent / "shared/testdata/kodak", ROOT.parent.parent / "shared/testdata/kodak")
         if d.is_dir()), "testdata/kodak"))
    parser.add_argument("--photo", help="a large photograph to time")
    parser.add_argument("--scan", help="also a black and white scan (for example a G4 TIFF)")
    parser.add_argument("--skip-photos", action="store_true")
    args = parser.parse_args()
    tool = str(Path(args.build) / "bench" / "bench_compression")
    if not os.access(tool, os.X_OK):
        sys.exit(f"{tool} not found: build the target bench_compression first")
    with tempfile.TemporaryDirectory() as workdir:
        if not args.skip_photos:
            photos(tool, args.kodak, workdir)
        text_page(tool, workdir)
        if args.scan:
            text_page(tool, workdir, args.scan)
        if args.photo:
            large_photo(tool, args.photo, workdir)


if __name__ == "__main__":
    main()
