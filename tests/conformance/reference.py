#!/usr/bin/python3
"""Compares converted images with an independent decoding of their sources.

Reads lines "SOURCE<TAB>OUTPUT" on standard input and prints one line of JSON for each:
  {"source": ..., "reference": "bmpsuite" | "pillow" | "imagemagick" | "ghostscript" | null,
   "kind": "8bit" | "cmyk" | "16bit" | "lab" | "rendered", "size": [w, h] | null,
   "ref_size": [w, h] | null,
   "maxdiff": N, "psnr": dB (99 when identical), "suite": PNG | null, "suite_maxdiff": N | null,
   "note": text}
"reference" is the closest of the decodings; "suite" names the BMP suite's picture of the file
(BMPSUITE names the suite's folder), against which a file of the suite is also held.
The reference is the closest of the BMP suite's own PNG (where there is one), Pillow's and
ImageMagick's decodings (CMYK and 16-bit sources go to ImageMagick alone, whose conversions to 8-bit
RGB are the usual ones); EPS pages are rendered by Ghostscript. Transparency is composited over white, as the converter does. The output
(a TIFF) is decoded by Pillow. No pixel of either goes through the program under test.
Sources of more than 8 bits per sample (and L*a*b*) are decoded by ImageMagick at 16 bits and
rounded to 8 here, so that the reference is the nearest 8-bit level.

With --deep, each OUTPUT is a 16-bit conversion of SOURCE instead, and each line says whether the
two hold the same samples: {"source": ..., "output": ..., "identical": bool, "shapes": [...],
"note": text}. TIFF files are read by tifffile (ImageMagick at 16 bits where tifffile lacks the
compression, and for PNG), JPEG XL outputs by djxl at 16 bits.

With --pages, each line is "SOURCE<TAB>OUTPUT[<TAB>OUTPUT...]": one multi-page TIFF, or the page
files of one source in page order. Every page of the source (Pillow's ImageSequence) is compared
with the output page at the same position, and the line says:
  {"source": ..., "source_pages": N, "output_pages": M, "note": text,
   "pages": [{"size": [w, h], "dpi": [x, y] | null, "ref_size": [w, h], "ref_dpi": x,
              "resampled": bool, "bilevel": bool, "maxdiff": N, "psnr": dB,
              "psnr_4x4": dB}, ...]}
"psnr_4x4" compares the means of 4 x 4 blocks, as an eye sees a page made 1-bit after resampling.
A page whose pixels are not square is resampled here, vertically, to its horizontal resolution
(Pillow's Lanczos filter, on 8-bit samples) and "resampled" says so; "bilevel" says the source page
has two levels only.
"""
import io
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageOps, ImageSequence, ImageStat

IMAGEMAGICK = "/usr/bin/convert"
DJXL = "/usr/bin/djxl"


def over_white(image):
    image = ImageOps.exif_transpose(image) if image.format in ("JPEG", "TIFF") else image
    if image.mode in ("P", "PA", "LA", "RGBA", "La", "RGBa") or "transparency" in image.info:
        rgba = image.convert("RGBA")
        background = Image.new("RGBA", rgba.size, (255, 255, 255, 255))
        return Image.alpha_composite(background, rgba).convert("RGB")
    return image.convert("RGB")


# Files of the BMP suite without a PNG of their own that the suite says look like another one.
SUITE_ALIKE = {
    "pal1wb": "pal1", "pal4rle": "pal4", "pal8-0": "pal8", "pal8os2": "pal8", "pal8rle": "pal8",
    "pal8topdown": "pal8", "pal8v4": "pal8", "pal8v5": "pal8", "rgb16-565pal": "rgb16-565",
    "rgb24pal": "rgb24", "rgb32": "rgb24", "rgb32bf": "rgb24", "pal8os2v2": "pal8",
    "pal8os2sp": "pal8", "pal8offs": "pal8", "pal8oversizepal": "pal8", "pal8os2v2-16": "pal8",
    "rgb24largepal": "rgb24", "rgb24lprof": "rgb24", "rgb24prof": "rgb24", "rgb32bf-xbgr": "rgb24",
    "rgb32fakealpha": "rgb24", "rgb32h52": "rgb24", "rgb32-111110": "rgb24",
}


def bmpsuite_png(source):
    """The suite's picture of a file of the suite (found by its bytes, wherever the file is)."""
    suite = os.environ.get("BMPSUITE")
    name = os.path.splitext(os.path.basename(source))[0]
    if not suite or not source.lower().endswith((".bmp", ".rle")):
        return None
    with open(source, "rb") as handle:
        content = handle.read()
    for folder in ("g", "q"):
        for candidate in os.listdir(os.path.join(suite, folder)):
            path = os.path.join(suite, folder, candidate)
            stem = os.path.splitext(candidate)[0]
            if os.path.getsize(path) != len(content):
                continue
            with open(path, "rb") as handle:
                if handle.read() != content:
                    continue
            for picture in (stem, SUITE_ALIKE.get(stem)):
                png = picture and os.path.join(suite, "html", picture + ".png")
                if png and os.path.exists(png):
                    return png
    return None


def bitfields_bmp(source):
    """Uncompressed 16- and 32-bit BMPs with bit fields, decoded here: neither Pillow nor
    ImageMagick rescales fields of other than 5, 6 or 8 bits to the full 0..255 range."""
    with open(source, "rb") as handle:
        data = handle.read()
    if len(data) < 54 or data[:2] != b"BM":
        return None
    offset, size = struct.unpack_from("<II", data, 10)
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (16, 32) or compression not in (3, 6) or size < 40 or width <= 0:
        return None
    red, green, blue = struct.unpack_from("<III", data, 54)
    alpha = struct.unpack_from("<I", data, 66)[0] if size >= 56 or compression == 6 else 0

    def field(mask):
        if mask == 0:
            return lambda value: 0
        shift = (mask & -mask).bit_length() - 1
        top = mask >> shift
        return lambda value: ((value & mask) >> shift) * 255 * 2 // top + 1 >> 1

    fields = [field(m) for m in (red, green, blue, alpha)]
    stride = (width * bits + 31) // 32 * 4
    rows = abs(height)
    image = Image.new("RGBA", (width, rows))
    pixels = []
    for y in range(rows):
        start = offset + (rows - 1 - y if height > 0 else y) * stride
        for x in range(width):
            value = int.from_bytes(data[start + x * bits // 8:start + (x + 1) * bits // 8], "little")
            r, g, b, a = (f(value) for f in fields)
            pixels.append((r, g, b, a if alpha else 255))
    image.putdata(pixels)
    return over_white(image)


def imagemagick(source, deep=False):
    args = [IMAGEMAGICK, source + "[0]", "-auto-orient", "-colorspace", "sRGB", "-background",
            "white", "-alpha", "remove", "-alpha", "off", "-depth", "16" if deep else "8", "ppm:-"]
    done = subprocess.run(args, capture_output=True, timeout=120)
    if done.returncode != 0 or not done.stdout:
        return None
    if deep:
        samples = pnm_samples(done.stdout)
        rounded = (samples.astype("uint32") * 255 + 32767) // 65535
        return Image.fromarray(rounded.astype("uint8"), "RGB")
    return Image.open(io.BytesIO(done.stdout)).convert("RGB")


def pnm_samples(data):
    """The samples of a binary PGM or PPM (8 or 16 bits) as an array, rows by columns (by 3)."""
    import numpy
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    at += 1
    magic, width, height, top = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    channels = 3 if magic == b"P6" else 1
    dtype = numpy.dtype(">u2") if top > 255 else numpy.dtype("u1")
    count = width * height * channels
    samples = numpy.frombuffer(data, dtype=dtype, count=count, offset=at).astype("uint16")
    return samples.reshape((height, width, 3) if channels == 3 else (height, width))


def ghostscript(source):
    with tempfile.TemporaryDirectory() as scratch:
        page = os.path.join(scratch, "page%d.ppm")
        args = ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop", "-dTextAlphaBits=4",
                "-dGraphicsAlphaBits=4", "-sDEVICE=ppmraw", "-r72", "-sOutputFile=" + page,
                "-f", source, "-c", "currentpagedevice /PageCount get 0 eq {showpage} if"]
        subprocess.run(args, capture_output=True, timeout=120)
        first = page % 1
        if not os.path.exists(first):
            return None
        return Image.open(first).convert("RGB")


def tiff_photometric(source):
    if not source.lower().endswith((".tif", ".tiff")):
        return None
    try:
        import tifffile
        with tifffile.TiffFile(source) as tiff:
            return int(tiff.pages[0].photometric)
    except Exception:
        return None


def heif_convert(source):
    """heif-convert's PNG writer refuses the ICC profiles libpng knows to be wrong ("known
    incorrect sRGB profile"): such a file is decoded from a copy whose profile has one byte of its
    creation date changed, which libpng then takes (the pixels do not depend on it)."""
    with tempfile.TemporaryDirectory() as scratch:
        png = os.path.join(scratch, "decoded.png")
        for attempt in (source, os.path.join(scratch, "copy.heic")):
            if attempt != source:
                with open(source, "rb") as handle:
                    content = bytearray(handle.read())
                signature = content.find(b"acsp")
                if signature < 36:
                    return None
                content[signature - 36 + 35] ^= 1
                with open(attempt, "wb") as handle:
                    handle.write(content)
            done = subprocess.run(["heif-convert", attempt, png], capture_output=True,
                                  timeout=120)
            if done.returncode == 0 and os.path.getsize(png) > 0:
                with Image.open(png) as image:
                    return over_white(image)
    return None


def avifdec(source):
    """libheif upsamples 4:2:0 chroma by repeating samples: avifdec is told to do the same, so
    that the decodings are compared rather than the upsampling filters."""
    with tempfile.TemporaryDirectory() as scratch:
        png = os.path.join(scratch, "decoded.png")
        done = subprocess.run(["avifdec", "--depth", "8", "--upsampling", "nearest", source, png],
                              capture_output=True, timeout=120)
        if done.returncode != 0 or not os.path.exists(png):
            return None
        with Image.open(png) as image:
            return over_white(image)


def dwebp(source):
    """dwebp decodes stills only: of an animation, webpmux extracts the first frame, placed on
    the canvas at its offset."""
    with tempfile.TemporaryDirectory() as scratch:
        still, png = os.path.join(scratch, "frame.webp"), os.path.join(scratch, "decoded.png")
        info = subprocess.run(["webpmux", "-info", source], capture_output=True, text=True,
                              timeout=120).stdout
        canvas = None
        if "Features present:" in info and "animation" in info.split("Features present:")[1]:
            size = info.split("Canvas size:")[1].split()
            first = next(line.split() for line in info.splitlines()
                         if line.strip().startswith("1:"))
            canvas = (int(size[0]), int(size[2]), int(first[4]), int(first[5]))
            subprocess.run(["webpmux", "-get", "frame", "1", source, "-o", still],
                           capture_output=True, timeout=120)
            source = still
        done = subprocess.run(["dwebp", source, "-o", png], capture_output=True, timeout=120)
        if done.returncode != 0 or not os.path.exists(png):
            return None
        with Image.open(png) as image:
            decoded = image.convert("RGBA")
        if canvas:
            whole = Image.new("RGBA", canvas[:2], (0, 0, 0, 0))
            whole.paste(decoded, canvas[2:])
            decoded = whole
        return over_white(decoded)


# Formats whose reference is their own suite's decoder.
MODERN_DECODERS = {".heic": ("heif-convert", heif_convert), ".heif": ("heif-convert", heif_convert),
                   ".avif": ("avifdec", avifdec), ".webp": ("dwebp", dwebp)}


def kind_of(source):
    if tiff_photometric(source) in (8, 9):  # CIE L*a*b*, ICC L*a*b*
        return "lab"
    with open(source, "rb") as handle:
        head = handle.read(25)
    if head[:8] == b"\x89PNG\r\n\x1a\n" and head[24:25] == b"\x10":  # 16 bits per sample
        return "16bit"
    try:
        with Image.open(source) as image:
            if image.mode == "CMYK":
                return "cmyk"
            bits = image.tag_v2.get(258) if hasattr(image, "tag_v2") else None
            if image.mode.startswith("I") or (bits and max(bits) > 8):
                return "16bit"
    except Exception:  # not readable by Pillow: judged as 8-bit
        pass
    return "8bit"


def pillow(source):
    try:
        with Image.open(source) as image:
            image.seek(0)
            image.load()
            return over_white(image)
    except Exception:
        return None


def references(source, kind):
    """The independent decodings to compare with: [(name, image)]."""
    if source.lower().endswith((".eps", ".ps")):
        return [("ghostscript", ghostscript(source))]
    suffix = os.path.splitext(source)[1].lower()
    if suffix in MODERN_DECODERS:
        name, decoder = MODERN_DECODERS[suffix]
        return [(name, decoder(source))]
    if kind == "cmyk":
        return [("imagemagick", imagemagick(source))]
    if kind in ("16bit", "lab"):
        return [("imagemagick", imagemagick(source, deep=True))]
    if source.lower().endswith(".bmp"):
        decoded = bitfields_bmp(source)
        if decoded is not None:
            return [("bitfields", decoded)]
    # Either decoder has its gaps (Pillow 9 misreads 4-bit RLE BMPs and 4-plane PCX files): a
    # conversion that matches either one matches an independent reading of the file.
    return [("pillow", pillow(source)), ("imagemagick", imagemagick(source))]


def djxl_image(path):
    """A JPEG XL file decoded by djxl at 8 bits."""
    with tempfile.TemporaryDirectory() as scratch:
        decoded = os.path.join(scratch, "decoded.png")
        done = subprocess.run([DJXL, path, decoded, "--bits_per_sample=8"], capture_output=True,
                              timeout=300)
        if done.returncode != 0:
            raise RuntimeError("djxl: " + done.stderr.decode(errors="replace").strip())
        with Image.open(decoded) as image:
            image.load()
            return image.copy()


def jxl_dpi(path):
    """The resolution a JPEG XL file states in its "Exif" box, or None."""
    with open(path, "rb") as handle:
        data = handle.read()
    at = 0
    while at + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, at)
        header = 8
        if size == 1:
            size, header = struct.unpack_from(">Q", data, at + 8)[0], 16
        elif size == 0:
            size = len(data) - at
        if size < header:
            return None
        if kind == b"Exif":
            payload = data[at + header:at + size]
            offset = struct.unpack_from(">I", payload)[0]
            exif = Image.Exif()
            exif.load(b"Exif\x00\x00" + payload[4 + offset:])
            if 282 in exif and 283 in exif:
                return [float(exif[282]), float(exif[283])]
            return None
        at += size
    return None


def output_pages(path):
    """The pages of an output file, each as (RGB image, [x dpi, y dpi] or None)."""
    if path.lower().endswith(".jxl"):
        return [(djxl_image(path).convert("RGB"), jxl_dpi(path))]
    pages = []
    with Image.open(path) as converted:
        for page in ImageSequence.Iterator(converted):
            dpi = page.info.get("dpi")
            pages.append((page.convert("RGB"), [float(d) for d in dpi] if dpi else None))
    return pages


def compare(a, b):
    if a.size != b.size:
        return None, None
    difference = ImageChops.difference(a, b)
    worst = max(high for _, high in difference.getextrema())
    squares = sum(ImageStat.Stat(difference).sum2)
    if squares == 0:
        return 0, 99.0
    count = a.size[0] * a.size[1] * 3
    return worst, 10 * math.log10(255 * 255 * count / squares)


def deep_samples(path):
    """The 16-bit samples of a file, by a decoder other than the program under test."""
    import numpy
    import tifffile
    lower = path.lower()
    if lower.endswith(".jxl"):
        with tempfile.TemporaryDirectory() as scratch:
            # djxl names the kind by the suffix: PPM for colour, PGM for gray.
            for suffix in (".ppm", ".pgm"):
                decoded = os.path.join(scratch, "decoded" + suffix)
                done = subprocess.run([DJXL, path, decoded, "--bits_per_sample=16"],
                                      capture_output=True, timeout=300)
                if done.returncode == 0:
                    with open(decoded, "rb") as handle:
                        return pnm_samples(handle.read())
            raise RuntimeError("djxl: " + done.stderr.decode(errors="replace").strip())
    if lower.endswith((".tif", ".tiff")):
        try:
            return numpy.asarray(tifffile.imread(path)).astype("uint16")
        except ValueError:  # a compression tifffile cannot decode without imagecodecs
            pass
    done = subprocess.run([IMAGEMAGICK, path + "[0]", "-depth", "16", "pnm:-"],
                          capture_output=True, timeout=300, check=True)
    return pnm_samples(done.stdout)


def compare_deep():
    import numpy
    for line in sys.stdin:
        source, _, output = line.rstrip("\n").partition("\t")
        result = {"source": source, "output": output, "identical": False, "shapes": None,
                  "note": ""}
        try:
            a, b = deep_samples(source), deep_samples(output)
            result["shapes"] = [list(a.shape), list(b.shape)]
            result["identical"] = a.shape == b.shape and bool(numpy.array_equal(a, b))
        except Exception as error:  # reported, judged by the test
            result["note"] = "%s: %s" % (type(error).__name__, error)
        print(json.dumps(result), flush=True)


def source_pages(source):
    """Every page of a source, decoded by Pillow: (RGB image, [x dpi, y dpi], bilevel,
    resampled), a page whose pixels are not square resampled to its horizontal resolution."""
    pages = []
    with Image.open(source) as image:
        for page in ImageSequence.Iterator(image):
            page.load()
            x, y = (float(d) for d in page.info.get("dpi", (72, 72)))
            bilevel = page.mode == "1" or (
                page.mode == "L" and set(c for _, c in page.getcolors(256) or []) <= {0, 255})
            picture = over_white(page)
            resampled = x != y
            if resampled:
                height = max(1, round(picture.size[1] * x / y))
                picture = picture.resize((picture.size[0], height), Image.LANCZOS)
            pages.append((picture, [x, x], bilevel, resampled))
    return pages


def compare_pages():
    for line in sys.stdin:
        source, *outputs = line.rstrip("\n").split("\t")
        result = {"source": source, "source_pages": None, "output_pages": None, "pages": [],
                  "note": ""}
        try:
            mine = [page for output in outputs for page in output_pages(output)]
            theirs = source_pages(source)
            result["source_pages"], result["output_pages"] = len(theirs), len(mine)
            for (image, dpi), (ref, ref_dpi, bilevel, resampled) in zip(mine, theirs):
                worst, psnr = compare(ref, image)
                result["pages"].append({"size": list(image.size), "dpi": dpi,
                                        "ref_size": list(ref.size), "ref_dpi": ref_dpi[0],
                                        "resampled": resampled, "bilevel": bilevel,
                                        "maxdiff": worst, "psnr": psnr,
                                        "psnr_4x4": compare(ref.reduce(4), image.reduce(4))[1]
                                        if ref.size == image.size else None})
        except Exception as error:  # reported, judged by the test
            result["note"] = "%s: %s" % (type(error).__name__, error)
        print(json.dumps(result), flush=True)


def main():
    if sys.argv[1:] == ["--deep"]:
        compare_deep()
        return
    if sys.argv[1:] == ["--pages"]:
        compare_pages()
        return
    for line in sys.stdin:
        source, _, output = line.rstrip("\n").partition("\t")
        result = {"source": source, "reference": None, "size": None, "ref_size": None,
                  "maxdiff": None, "psnr": None, "suite": None, "suite_maxdiff": None, "note": ""}
        try:
            kind = kind_of(source)
            result["kind"] = kind
            mine = None
            if output and output != "-":
                mine = output_pages(output)[0][0]
                result["size"] = list(mine.size)
            png = bmpsuite_png(source)
            suite = []
            if png:
                with Image.open(png) as image:
                    suite = [("bmpsuite", over_white(image))]
                result["suite"] = os.path.basename(png)
                if mine is not None and suite[0][1].size == mine.size:
                    result["suite_maxdiff"] = compare(suite[0][1], mine)[0]
            for name, ref in suite + references(source, kind):
                if ref is None:
                    continue
                worst, psnr = compare(ref, mine) if mine is not None else (None, None)
                better = psnr is not None and (result["psnr"] is None or psnr > result["psnr"])
                if result["reference"] is None or better:
                    result.update(reference=name, ref_size=list(ref.size), maxdiff=worst,
                                  psnr=psnr)
        except Exception as error:  # reported, judged by the test
            result["note"] = "%s: %s" % (type(error).__name__, error)
        print(json.dumps(result), flush=True)


if __name__ == "__main__":
    main()
