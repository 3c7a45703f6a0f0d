// Writes the fuzzers' starting corpus: a tiny file of every format the readers take, made with the
// project's own writers and with libjpeg, libtiff, GraphicsMagick, libheif and libwebp.
//   fuzz_seeds DIR
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <functional>

#include "JpegFixtures.h"
#include "MagickFixtures.h"
#include "ModernFixtures.h"
#include "PngFixtures.h"
#include "SeedFiles.h"
#include "TiffFixtures.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/MagickRuntime.h"

using namespace pixavant;
namespace ts = pixavant::testsupport;
namespace tt = pixavant::testing;
namespace seeds = pixavant::fuzzseeds;

namespace {

int failures = 0;

void check(bool ok, const QString& name) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_seeds: could not write %s\n", qPrintable(name));
        ++failures;
    }
}

tt::TiffFixture tiff(uint16_t compression, uint16_t photometric, uint16_t spp, uint16_t bits) {
    tt::TiffFixture f;
    f.width = 8;
    f.height = 6;
    f.compression = compression;
    f.photometric = photometric;
    f.samplesPerPixel = spp;
    f.bitsPerSample = bits;
    const size_t rowBytes = (size_t(f.width) * spp * bits + 7) / 8;
    f.data.resize(rowBytes * f.height);
    for (size_t i = 0; i < f.data.size(); ++i)
        f.data[i] = uint8_t(i * 37 + 11);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    imaging::magick::ensureInitialized();
    const QString dir = QFile::decodeName(argv[1]);
    QDir().mkpath(dir);
    const auto path = [&](const QString& name) { return dir + "/" + name; };

    // JPEG: JFIF at three samplings, EXIF, progressive, gray, Adobe CMYK.
    const imaging::Raster photo = tt::makePhotoLike(16, 12, 7);
    const imaging::Raster gray = [&] {
        imaging::Raster g = tt::makeSolid(16, 12, 0, 0, 0);
        g.format = imaging::PixelFormat::Gray8;
        g.allocate();
        for (size_t i = 0; i < g.pixels.size(); ++i)
            g.pixels[i] = uint8_t(i * 3);
        return g;
    }();
    struct JpegSeed {
        const char* name;
        tt::JpegFixture fixture;
    };
    JpegSeed jpegs[] = {{"jfif444.jpg", {}},
                        {"jfif420.jpg", {}},
                        {"jfif422.jpg", {}},
                        {"exif.jpg", {}},
                        {"prog.jpg", {}}};
    jpegs[1].fixture.hSamp = jpegs[1].fixture.vSamp = 2;
    jpegs[2].fixture.hSamp = 2;
    jpegs[3].fixture.jfif = false;
    jpegs[3].fixture.exif = true;
    jpegs[3].fixture.exifFields = {6, 300, 300, 2};
    jpegs[4].fixture.progressive = true;
    for (const JpegSeed& s : jpegs)
        check(tt::writeBytes(path(s.name), tt::makeJpeg(photo, s.fixture)), s.name);
    check(tt::writeBytes(path("gray.jpg"), tt::makeJpeg(gray)), "gray.jpg");
    check(tt::writeBytes(path("cmyk.jpg"), seeds::cmykJpeg(16, 12)), "cmyk.jpg");

    // TIFF: the compressions and photometrics the reader sorts into codes, pages, tiles.
    struct TiffSeed {
        const char* name;
        tt::TiffFixture fixture;
    };
    TiffSeed tiffs[] = {
        {"none.tif", tiff(1, 2, 3, 8)},         {"lzw.tif", tiff(5, 2, 3, 8)},
        {"packbits.tif", tiff(32773, 1, 1, 8)}, {"deflate.tif", tiff(8, 1, 1, 8)},
        {"ccittrle.tif", tiff(2, 0, 1, 1)},     {"g3.tif", tiff(3, 0, 1, 1)},
        {"g3-2d.tif", tiff(3, 0, 1, 1)},        {"g4.tif", tiff(4, 0, 1, 1)},
        {"cmyk.tif", tiff(5, 5, 4, 8)},         {"gray16.tif", tiff(1, 1, 1, 16)},
        {"palette.tif", tiff(1, 3, 1, 4)},      {"jpeg.tif", tiff(7, 6, 3, 8)},
        {"pages.tif", tiff(5, 1, 1, 8)},        {"tiled.tif", tiff(1, 1, 1, 8)},
    };
    tiffs[6].fixture.group3Options = 1;
    tiffs[10].fixture.colormap.resize(3 * 16);
    for (size_t i = 0; i < tiffs[10].fixture.colormap.size(); ++i)
        tiffs[10].fixture.colormap[i] = uint16_t(i * 4099);
    tiffs[11].fixture.jpegRgbInput = true;
    tiffs[11].fixture.ycbcrHorizontal = tiffs[11].fixture.ycbcrVertical = 2;
    tiffs[11].fixture.width = tiffs[11].fixture.height = 16;
    tiffs[11].fixture.data.assign(16 * 16 * 3, 128);
    tiffs[12].fixture.pages = 3;
    tiffs[12].fixture.xResolution = tiffs[12].fixture.yResolution = 200;
    tiffs[13].fixture.width = tiffs[13].fixture.height = 16;
    tiffs[13].fixture.data.assign(16 * 16, 200);
    tiffs[13].fixture.tileWidth = tiffs[13].fixture.tileHeight = 16;
    for (const TiffSeed& s : tiffs)
        check(tt::writeTiffFixture(path(s.name), s.fixture), s.name);
    check(tt::writeFile(path("raw.tif"), tt::buildRawTiff({})), "raw.tif");
    // Sample kinds and colour spaces of their own: float, signed and 32-bit samples, L*a*b* in
    // both encodings, an extra sample in separate planes.
    struct SampleSeed {
        const char* name;
        uint16_t photometric, samples, bits, kind, planar;
    };
    const SampleSeed sampleSeeds[] = {
        {"float32.tif", 1, 1, 32, 3, 1}, {"int16.tif", 1, 1, 16, 2, 1},
        {"uint32.tif", 2, 3, 32, 1, 1},  {"rgb16.tif", 2, 3, 16, 1, 1},
        {"lab8.tif", 8, 3, 8, 1, 1},     {"lab16.tif", 8, 3, 16, 1, 1},
        {"icclab8.tif", 9, 3, 8, 1, 1},  {"planes-extra.tif", 2, 4, 8, 1, 2},
    };
    for (const SampleSeed& s : sampleSeeds) {
        tt::TiffFixture f = tiff(5, s.photometric, s.samples, s.bits);
        f.sampleFormat = s.kind;
        f.planar = s.planar;
        f.data.assign(size_t(f.width) * f.height * s.samples * s.bits / 8, 0x3c);
        check(tt::writeTiffFixture(path(s.name), f), s.name);
    }

    // PNG: colour keys, 16-bit samples, EXIF orientation, an animation, compressed XMP.
    {
        using tt::PngBuilder;
        const QByteArray rgb16(8 * 6 * 6, '\x5a');
        const QByteArray key = QByteArray::fromHex("005a005a005a");
        const QByteArray exif =
            QByteArray::fromHex("49492a00080000000100120103000100000006000000000000000000");
        const QByteArray frame = PngBuilder::be32(0) + PngBuilder::be32(8) + PngBuilder::be32(6) +
                                 PngBuilder::be32(0) + PngBuilder::be32(0) +
                                 QByteArray::fromHex("000100010000");
        const QByteArray xmp = QByteArray("XML:com.adobe.xmp\0\1\0\0\0", 22) +
                               PngBuilder::deflated("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
        const struct {
            const char* name;
            QByteArray bytes;
        } pngs[] = {
            {"trns-rgb16.png", PngBuilder(8, 6, 16, 2).chunk("tRNS", key).image(rgb16).finish()},
            {"palette-trns.png", PngBuilder(8, 6, 8, 3)
                                     .chunk("PLTE", QByteArray::fromHex("000000ff0000"))
                                     .chunk("tRNS", QByteArray::fromHex("00"))
                                     .image(QByteArray(48, '\1'))
                                     .finish()},
            {"gray-alpha16.png", PngBuilder(8, 6, 16, 4).image(QByteArray(192, '\x80')).finish()},
            {"exif-6.png",
             PngBuilder(8, 6, 8, 0).chunk("eXIf", exif).image(QByteArray(48, '\x20')).finish()},
            {"animated.png", PngBuilder(8, 6, 8, 0)
                                 .chunk("acTL", PngBuilder::be32(1) + PngBuilder::be32(0))
                                 .chunk("fcTL", frame)
                                 .image(QByteArray(48, '\x40'))
                                 .finish()},
            {"xmp.png",
             PngBuilder(8, 6, 8, 2).chunk("iTXt", xmp).image(QByteArray(144, '\x60')).finish()},
        };
        for (const auto& p : pngs)
            check(tt::writeBytes(path(p.name), p.bytes), p.name);
    }

    // GraphicsMagick's formats.
    const std::vector<uint8_t> rgb = ts::quadrantPattern(8, 6);
    struct MagickSeed {
        const char* name;
        ts::MagickWriteOptions options;
    };
    MagickSeed magickSeeds[] = {
        {"image.gif", {.coder = "GIF", .frames = 3}},
        {"image.bmp", {.coder = "BMP"}},
        {"image2.bmp", {.coder = "BMP2"}},
        {"rle.bmp", {.coder = "BMP2", .palette = true, .rle = true}},
        {"image.pcx", {.coder = "PCX"}},
        {"image.tga", {.coder = "TGA"}},
        {"rle.tga", {.coder = "TGA", .rle = true}},
        {"image.pct", {.coder = "PICT"}},
        {"image.png", {.coder = "PNG", .alpha = true}},
        {"image.ras", {.coder = "SUN"}},
        {"image.pnm", {.coder = "PPM"}},
        {"image.xpm", {.coder = "XPM"}},
    };
    for (const MagickSeed& s : magickSeeds)
        check(ts::writeMagickImage(path(s.name), 8, 6, rgb, s.options), s.name);
    // BMP header versions and pixel layouts: OS/2 1.x and 2.x, Windows 3 to 5, the 52- and
    // 56-byte headers, colour tables, plain and bit-field 16- and 32-bit pixels with and without
    // alpha masks (and masks a plain pixel layout ignores).
    struct BmpSeed {
        const char* name;
        ts::BmpLayout layout;
    };
    const BmpSeed bmps[] = {
        {"v2-8.bmp", {12, 8}},
        {"os2v2-8.bmp", {64, 8}},
        {"v3-4.bmp", {40, 4}},
        {"v3-555.bmp", {40, 16}},
        {"v3-565.bmp", {40, 16, 3, {0xf800, 0x07e0, 0x001f, 0}}},
        {"v3-32-unused.bmp", {40, 32, 0, {}, 0x80}},
        {"v3-alphabitfields.bmp", {40, 32, 6, {0xff0000, 0xff00, 0xff, 0xff000000}, 0x40}},
        {"h52-32.bmp", {52, 32, 3, {0xff000000, 0xff00, 0xff, 0}}},
        {"h56-32-alpha.bmp", {56, 32, 3, {0xff0000, 0xff00, 0xff, 0xff000000}, 0x80}},
        {"v4-24-masks.bmp", {108, 24, 0, {0xff0000, 0xff00, 0xff, 0xff000000}}},
        {"v4-4444.bmp", {108, 16, 3, {0x0f00, 0x00f0, 0x000f, 0xf000}, 0x80}},
        {"v5-24-masks.bmp", {124, 24, 0, {0xff0000, 0xff00, 0xff, 0xff000000}}},
        {"v5-101010.bmp", {124, 32, 3, {0x3ff00000, 0x000ffc00, 0x000003ff, 0}}},
        {"v5-8.bmp", {124, 8}},
    };
    for (const BmpSeed& b : bmps)
        check(ts::writeBytes(path(b.name), ts::bmpFile(8, 6, b.layout)), b.name);

    // GIF frames placed on logical screens: inside, beyond the screen, a screen of no size.
    {
        const QString frame = path("frame.gif");
        QByteArray gif;
        if (ts::writeMagickImage(frame, 6, 4, rgb, {.coder = "GIF"})) {
            QFile file(frame);
            if (file.open(QIODevice::ReadOnly))
                gif = file.readAll();
            QFile::remove(frame);
        }
        const int screens[][4] = {{16, 10, 3, 2}, {4, 4, 2, 1}, {0, 0, 1, 1}};
        for (const auto& s : screens) {
            const QString name =
                QStringLiteral("screen-%1x%2+%3+%4.gif").arg(s[0]).arg(s[1]).arg(s[2]).arg(s[3]);
            check(ts::writeBytes(path(name), seeds::gifOnScreen(gif, s[0], s[1], s[2], s[3])),
                  name);
        }
    }

    // TGA: gray with alpha, raw and run-length; 32-bit colour whose header counts no alpha bits.
    const auto tga = [](int type, int depth, int alphaBits, const QByteArray& pixels) {
        QByteArray b(18, '\0');
        b[2] = char(type);
        b[12] = 2;
        b[14] = 2;
        b[16] = char(depth);
        b[17] = char(alphaBits);
        return b + pixels;
    };
    check(ts::writeBytes(path("la.tga"),
                         tga(3, 16, 8, QByteArray("\xc8\xff\x10\x80", 4).repeated(2))),
          "la.tga");
    check(ts::writeBytes(path("la-rle.tga"), tga(11, 16, 8, QByteArray("\x83\xc8\x7f", 3))),
          "la-rle.tga");
    check(ts::writeBytes(path("right-to-left.tga"),
                         tga(2, 24, 0x30, QByteArray("\x10\x20\x30", 3).repeated(4))),
          "right-to-left.tga");
    check(ts::writeBytes(path("bgra-noalpha.tga"),
                         tga(10, 32, 0, QByteArray("\x83\x00\x00\xff\x80", 5))),
          "bgra-noalpha.tga");

    check(tt::writeBytes(path("page.eps"), seeds::epsFile(20, 10, false)), "page.eps");
    check(tt::writeBytes(path("dos.eps"), seeds::epsFile(20, 10, true)), "dos.eps");
    check(tt::writeBytes(path("os2v2.bmp"), seeds::os2V2Bitmap(4, 4)), "os2v2.bmp");
    check(tt::writeBytes(path("image.wmf"), seeds::placeableMetafile()), "image.wmf");
    check(ts::writeBytes(path("image.ico"), ts::iconFile(1)), "image.ico");
    check(ts::writeBytes(path("image.cur"), ts::iconFile(2)), "image.cur");

    // HEIF (HEVC, 10-bit with alpha, turned by its transform), AVIF, WebP (lossy, lossless with
    // alpha and metadata, an animation).
    {
        const imaging::Raster small = tt::makePhotoLike(16, 12, 5);
        const auto seed = [&](const char* name, const QByteArray& bytes) {
            check(!bytes.isEmpty() && tt::writeBytes(path(name), bytes), name);
        };
        tt::HeifFixture deep;
        deep.bitDepth = 10;
        deep.alpha = true;
        deep.transform = 6;
        deep.exif = tt::exifWithOrientation(6);
        tt::HeifFixture av1;
        av1.av1 = true;
        av1.nclxPrimaries = 12;
        av1.nclxTransfer = 13;
        seed("image.heic", tt::makeHeif(small));
        seed("deep.heic", tt::makeHeif(small, deep));
        seed("image.avif", tt::makeHeif(small, av1));
        tt::WebpFixture lossy;
        lossy.lossless = false;
        tt::WebpFixture alpha;
        alpha.alpha = true;
        alpha.exif = tt::exifWithOrientation(6);
        alpha.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
        tt::WebpFixture animation;
        animation.frames = 3;
        seed("lossy.webp", tt::makeWebp(small, lossy));
        seed("alpha.webp", tt::makeWebp(small, alpha));
        seed("anim.webp", tt::makeWebp(small, animation));
    }

    // PIXAVANT files, written by the control itself.
    imaging::ImagingControl control;
    const QString source = path("jfif444.jpg");
    struct Own {
        const char* name;
        int16_t code;
        int16_t bits;
    };
    for (const Own& o : {Own{"lossy.jxl", imaging::format::kPixavant, 24},
                         Own{"bilevel.jxl", imaging::format::kPixavant1Bit, 1},
                         Own{"lossless.jxl", imaging::format::kPixavantLossless, 8}}) {
        const bool ok = control.load(source, o.bits) == 0 &&
                        control.save(path(o.name), {o.code, o.bits, -5}) == 0;
        check(ok, o.name);
    }
    return failures == 0 ? 0 : 1;
}
