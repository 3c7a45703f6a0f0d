#!/usr/bin/env python3
"""Which metadata survives a conversion: converts every file of the given directories to JPEG,
TIFF (LZW) and PIXAVANT (lossy and lossless) with `pixavant convert` and compares, tag by tag, what
exiftool reads from each output with what it reads from the source. Prints a Markdown table.

    bench/metadata_survival.py build/pixavant ../shared/testdata/exif ../shared/testdata/photos
"""
import json
import os
import subprocess
import sys
import tempfile

FORMATS = [("JPEG", "jpeg"), ("TIFF LZW", "lzw"), ("PIXAVANT", "pixavant"),
           ("PIXAVANT lossless", "pixavant-lossless")]

# Rows of the table: a name and the exiftool tags (group:name) it stands for.
ROWS = [
    ("dates", ["EXIF:DateTimeOriginal", "EXIF:CreateDate", "EXIF:ModifyDate",
               "EXIF:SubSecTimeOriginal", "EXIF:OffsetTimeOriginal"]),
    ("camera", ["EXIF:Make", "EXIF:Model", "EXIF:SerialNumber", "EXIF:Software"]),
    ("lens", ["EXIF:LensModel", "EXIF:LensInfo", "EXIF:LensMake", "EXIF:FocalLength",
              "EXIF:FocalLengthIn35mmFormat", "EXIF:MaxApertureValue"]),
    ("exposure", ["EXIF:ExposureTime", "EXIF:FNumber", "EXIF:ISO", "EXIF:ExposureProgram",
                  "EXIF:ExposureCompensation", "EXIF:MeteringMode", "EXIF:Flash",
                  "EXIF:WhiteBalance"]),
    ("GPS", ["EXIF:GPSLatitude", "EXIF:GPSLatitudeRef", "EXIF:GPSLongitude",
             "EXIF:GPSLongitudeRef", "EXIF:GPSAltitude", "EXIF:GPSTimeStamp",
             "EXIF:GPSDateStamp"]),
    ("copyright, artist", ["EXIF:Copyright", "EXIF:Artist"]),
    ("description", ["EXIF:ImageDescription", "EXIF:UserComment", "EXIF:XPComment",
                     "EXIF:XPTitle"]),
    ("maker notes", ["MakerNotes:*"]),
    ("XMP", ["XMP:*"]),
    ("IPTC", ["IPTC:*"]),
]
# What the conversion makes true instead of copying.
MADE_TRUE = {"EXIF:Orientation", "XMP:Orientation", "EXIF:ThumbnailImage", "EXIF:ThumbnailOffset",
             "EXIF:ThumbnailLength", "XMP:ImageWidth", "XMP:ImageHeight", "XMP:Format",
             "XMP:NativeDigest", "XMP:XResolution", "XMP:YResolution", "XMP:ResolutionUnit",
             "XMP:ExifImageWidth", "XMP:ExifImageHeight", "XMP:Compression",
             "XMP:PhotometricInterpretation", "XMP:BitsPerSample", "XMP:SamplesPerPixel",
             "XMP:PlanarConfiguration", "XMP:YCbCrSubSampling", "XMP:ColorSpace",
             "XMP:ICCProfileName", "XMP:XMPToolkit"}


def read_tags(path):
    out = subprocess.run(["exiftool", "-j", "-n", "-G0", "-a", "-struct", "-b", path],
                         capture_output=True, text=True)
    data = json.loads(out.stdout or "[{}]")[0]
    return {k: v for k, v in data.items() if not k.startswith(("File:", "SourceFile",
                                                               "ExifTool:", "Composite:"))}


VERBOSE = os.environ.get("VERBOSE")

# A JPEG XL file holds no IPTC record: its data sets travel as the XMP properties of IPTC Core.
IPTC_AS_XMP = {
    "IPTC:City": "XMP:City", "IPTC:Country-PrimaryLocationName": "XMP:Country",
    "IPTC:Province-State": "XMP:State", "IPTC:Sub-location": "XMP:Location",
    "IPTC:Country-PrimaryLocationCode": "XMP:CountryCode", "IPTC:Keywords": "XMP:Subject",
    "IPTC:Caption-Abstract": "XMP:Description", "IPTC:ObjectName": "XMP:Title",
    "IPTC:By-line": "XMP:Creator", "IPTC:By-lineTitle": "XMP:AuthorsPosition",
    "IPTC:CopyrightNotice": "XMP:Rights", "IPTC:Headline": "XMP:Headline",
    "IPTC:Credit": "XMP:Credit", "IPTC:Source": "XMP:Source",
    "IPTC:Writer-Editor": "XMP:CaptionWriter", "IPTC:SpecialInstructions": "XMP:Instructions",
    "IPTC:Category": "XMP:Category", "IPTC:SupplementalCategories": "XMP:SupplementalCategories",
    "IPTC:Urgency": "XMP:Urgency",
    "IPTC:OriginalTransmissionReference": "XMP:TransmissionReference",
}


def same_value(a, b):
    if a == b:
        return True
    as_list = lambda v: [str(x) for x in v] if isinstance(v, list) else [str(v)]
    return b is not None and as_list(a) == as_list(b)


def matching(source, output, pattern, label="", iptc_as_xmp=False):
    group, name = pattern.split(":")
    if name == "*":
        keys = [k for k in source if k.startswith(group + ":") and k not in MADE_TRUE]
    else:
        keys = [pattern] if pattern in source else []
    if iptc_as_xmp and group == "IPTC":
        keys = [k for k in keys if k in IPTC_AS_XMP]
    same = 0
    for k in keys:
        target = IPTC_AS_XMP[k] if iptc_as_xmp and group == "IPTC" else k
        if same_value(source[k], output.get(target)):
            same += 1
        elif VERBOSE:
            print(f"  {label}: {k}: {str(source[k])[:60]!r} -> {str(output.get(k))[:60]!r}",
                  file=sys.stderr)
    return same, len(keys)


def main():
    program, folders = sys.argv[1], sys.argv[2:]
    files = sorted(os.path.join(d, f) for d in folders for f in os.listdir(d))
    table = {row: {fmt: [0, 0, 0] for fmt, _ in FORMATS} for row, _ in ROWS}
    truth = {fmt: [0, 0] for fmt, _ in FORMATS}
    failures = []
    with tempfile.TemporaryDirectory() as out:
        for path in files:
            source = read_tags(path)
            for fmt, option in FORMATS:
                ext = option.upper()
                name = os.path.splitext(os.path.basename(path))[0].split(".")[0] + "." + ext
                target = os.path.join(out, name)
                done = subprocess.run([program, "convert", "--compression", option, "-o", out,
                                       "--ext", ext, path], capture_output=True, text=True)
                if done.returncode != 0:
                    failures.append(f"{os.path.basename(path)} -> {fmt}: {done.stderr.strip()}")
                    continue
                output = read_tags(target)
                for row, patterns in ROWS:
                    same = total = 0
                    for p in patterns:
                        s, t = matching(source, output, p, f"{os.path.basename(path)} {fmt}",
                                        option.startswith("pixavant"))
                        same, total = same + s, total + t
                    if total:
                        cell = table[row][fmt]
                        cell[0] += 1 if same == total else 0
                        cell[1] += 1
                        cell[2] += total - same
                orientation = output.get("EXIF:Orientation", 1)
                truth[fmt][0] += 1 if orientation == 1 and "EXIF:ThumbnailImage" not in output else 0
                truth[fmt][1] += 1
                os.remove(target)
    print("| tags | " + " | ".join(f for f, _ in FORMATS) + " |")
    print("|---|" + "---|" * len(FORMATS))
    for row, _ in ROWS:
        cells = []
        for fmt, _ in FORMATS:
            whole, files_with, lost = table[row][fmt]
            cells.append(f"{whole}/{files_with}" + (f" ({lost} values differ)" if lost else ""))
        print(f"| {row} | " + " | ".join(cells) + " |")
    print("| orientation 1, no thumbnail | " +
          " | ".join(f"{truth[f][0]}/{truth[f][1]}" for f, _ in FORMATS) + " |")
    print("\nCells: files whose every such value reads back equal / files that have such values."
          "\nPIXAVANT: IPTC data sets compared with the XMP properties that carry them.")
    for f in failures:
        print("not converted:", f)


if __name__ == "__main__":
    main()
