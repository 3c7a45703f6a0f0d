#include <tiffio.h>

#include <QProcess>
#include <QStandardPaths>

#include "ImagingFixtures.h"

namespace pixavant::imaging {
namespace {

using testing::TiffFixture;
using testing::writeTiffFixture;

// A fixture of the given layout whose samples follow a simple pattern (x + 3y + 40s, wrapped to the
// sample's range; 16-bit samples carry the pattern in both bytes).
TiffFixture patterned(uint32_t width, uint32_t height, uint16_t bits, uint16_t samples,
                      uint16_t photometric, uint16_t compression = COMPRESSION_NONE) {
    TiffFixture f;
    f.width = width;
    f.height = height;
    f.bitsPerSample = bits;
    f.samplesPerPixel = samples;
    f.photometric = photometric;
    f.compression = compression;
    const size_t line = (size_t(width) * samples * bits + 7) / 8;
    f.data.assign(line * height, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (uint16_t s = 0; s < samples; ++s) {
                const unsigned v = x + 3 * y + 40u * s;
                const size_t n = size_t(x) * samples + s;
                uint8_t* row = f.data.data() + y * line;
                if (bits == 8) {
                    row[n] = uint8_t(v);
                } else if (bits == 16) {
                    const uint16_t w = uint16_t((v & 0xff) * 257);
                    std::memcpy(row + 2 * n, &w, 2);
                } else {
                    const size_t bit = n * bits;
                    const unsigned value = v & ((1u << bits) - 1);
                    row[bit / 8] |= uint8_t(value << (8 - bits - bit % 8));
                }
            }
    return f;
}

TiffFixture bilevelFixture(uint16_t compression) {
    return patterned(40, 20, 1, 1, PHOTOMETRIC_MINISWHITE, compression);
}

class TiffTest : public testing::ImagingTest {
  protected:
    QString fixture(const QString& name, const TiffFixture& f) {
        EXPECT_TRUE(writeTiffFixture(path(name), f));
        return path(name);
    }
    static int save(const QString& file, const Raster& raster, int code) {
        Progress progress;
        return makeTiffWriter()->write(file, raster, {}, SaveRequest{code, 0, {}}, progress);
    }
};

// The raster as RGB triplets or gray values, palette expanded, for comparing pixels.
std::vector<uint8_t> visiblePixels(const Raster& r) {
    std::vector<uint8_t> out;
    for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
            if (r.format == PixelFormat::Rgb8) {
                out.insert(out.end(), r.row(y) + 3 * x, r.row(y) + 3 * x + 3);
            } else if (r.format == PixelFormat::Indexed8) {
                const auto& e = r.palette[r.row(y)[x]];
                out.insert(out.end(), e.begin(), e.end());
            } else {
                out.push_back(r.row(y)[x]);
            }
        }
    return out;
}

TiffFixture cmyk(uint16_t compression) {
    return patterned(16, 8, 8, 4, PHOTOMETRIC_SEPARATED, compression);
}
TiffFixture ycc(uint16_t compression) {
    TiffFixture f = patterned(16, 8, 8, 3, PHOTOMETRIC_YCBCR, compression);
    f.ycbcrHorizontal = f.ycbcrVertical = 1;
    return f;
}
TiffFixture jpeg(uint16_t photometric, uint16_t h, uint16_t v) {
    TiffFixture f = patterned(32, 32, 8, photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3, photometric,
                              COMPRESSION_JPEG);
    f.rowsPerStrip = 16;
    if (photometric == PHOTOMETRIC_YCBCR) {
        f.ycbcrHorizontal = h;
        f.ycbcrVertical = v;
        f.jpegRgbInput = true;
    }
    return f;
}
TiffFixture palette8(uint16_t compression) {
    TiffFixture f = patterned(16, 8, 8, 1, PHOTOMETRIC_PALETTE, compression);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            f.colormap.push_back(uint16_t(((i * (c + 1)) & 255) * 257));
    return f;
}
TiffFixture fax3(uint32_t options) {
    TiffFixture f = bilevelFixture(COMPRESSION_CCITTFAX3);
    f.group3Options = options;
    return f;
}
TiffFixture tiled(TiffFixture f) {
    f.tileWidth = f.tileHeight = 16;
    return f;
}
TiffFixture withAlpha(TiffFixture f, uint16_t kind) {
    f.extraSample = kind;
    return f;
}

struct InfoCase {
    const char* name;
    TiffFixture fixture;
    int code;
    int bits;
    const char* compression;
    bool gray;  // the decoded raster is gray
};

const InfoCase kInfoCases[] = {
    {"gray", patterned(16, 8, 8, 1, PHOTOMETRIC_MINISBLACK), 3, 8, "Uncompressed", true},
    {"rgb_lzw", patterned(16, 8, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW), 17, 24, "LZW", false},
    {"gray_tiled", tiled(patterned(40, 20, 8, 1, PHOTOMETRIC_MINISBLACK)), 3, 8, "Uncompressed",
     true},
    {"palette_packbits", palette8(COMPRESSION_PACKBITS), 87, 8, "PackBits", false},
    {"bilevel_packbits", bilevelFixture(COMPRESSION_PACKBITS), 87, 1, "PackBits", true},
    {"rgba_deflate",
     withAlpha(patterned(16, 8, 8, 4, PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE),
               EXTRASAMPLE_UNASSALPHA),
     3, 32, "Deflate", false},
    {"cmyk", cmyk(COMPRESSION_NONE), 85, 32, "Uncompressed", false},
    {"cmyk_lzw", cmyk(COMPRESSION_LZW), 86, 32, "LZW", false},
    {"cmyk_packbits", cmyk(COMPRESSION_PACKBITS), 88, 32, "PackBits", false},
    {"ycc", ycc(COMPRESSION_NONE), 93, 24, "Uncompressed", false},
    {"ycc_lzw", ycc(COMPRESSION_LZW), 94, 24, "LZW", false},
    {"ycc_packbits", ycc(COMPRESSION_PACKBITS), 95, 24, "PackBits", false},
    {"ccitt_rle", bilevelFixture(COMPRESSION_CCITTRLE), 25, 1, "CCITT RLE", true},
    {"g3_1d", fax3(0), 27, 1, "CCITT G3", true},
    {"g3_2d", fax3(GROUP3OPT_2DENCODING), 28, 1, "CCITT G3", true},
    {"g4", bilevelFixture(COMPRESSION_CCITTFAX4), 29, 1, "CCITT G4", true},
    {"jpeg_rgb", jpeg(PHOTOMETRIC_RGB, 1, 1), 11, 24, "JPEG", false},
    {"jpeg_gray", jpeg(PHOTOMETRIC_MINISBLACK, 1, 1), 11, 8, "JPEG", true},
    {"jpeg_420", jpeg(PHOTOMETRIC_YCBCR, 2, 2), 22, 24, "JPEG", false},
    {"jpeg_422", jpeg(PHOTOMETRIC_YCBCR, 2, 1), 24, 24, "JPEG", false},
    {"jpeg_444", jpeg(PHOTOMETRIC_YCBCR, 1, 1), 11, 24, "JPEG", false},
};

class TiffInfoTest : public TiffTest, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(TiffInfoTest, ReportsCodeDepthAndCompressionAndDecodes) {
    const InfoCase& c = GetParam();
    const TiffFixture& f = c.fixture;
    const QString file = fixture(QString::fromLatin1(c.name) + ".tif", f);

    const imaging::FileInfoRecord i = testing::infoOf(file);
    EXPECT_EQ(std::tuple(i.Format, i.Width, i.Height, i.BitsPerPixel, i.Compression, i.TotalPages),
              std::tuple(c.code, int(f.width), int(f.height), c.bits,
                         QString::fromLatin1(c.compression), 1));
    EXPECT_EQ(i.SizeDisk, QFile(file).size());
    EXPECT_EQ(i.SizeMem, imageDataSize(f.width, f.height, c.bits));

    DecodedImage image;
    ASSERT_EQ(testing::decode(file, image), kSuccess);
    const Raster& r = image.raster;
    EXPECT_EQ(
        std::tuple(r.width, r.height, r.format),
        std::tuple(int(f.width), int(f.height), c.gray ? PixelFormat::Gray8 : PixelFormat::Rgb8));
}

INSTANTIATE_TEST_SUITE_P(Variants, TiffInfoTest, ::testing::ValuesIn(kInfoCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ResolutionCase {
    float value;
    uint16_t unit;
    int dpi;
};

TEST_F(TiffTest, ResolutionIsReportedInDotsPerInch) {
    const ResolutionCase cases[] = {
        {300, RESUNIT_INCH, 300},  {118.11f, RESUNIT_CENTIMETER, 300}, {72, RESUNIT_NONE, 0},
        {71.5f, RESUNIT_INCH, 72}, {72.5f, RESUNIT_INCH, 72},          {199.6f, RESUNIT_INCH, 200},
    };
    for (const auto& c : cases) {
        TiffFixture f = patterned(4, 4, 8, 1, PHOTOMETRIC_MINISBLACK);
        f.xResolution = c.value;
        f.yResolution = c.value * 2;
        f.resolutionUnit = c.unit;
        const QString file = fixture("res.tif", f);
        const imaging::FileInfoRecord info = testing::infoOf(file);
        EXPECT_EQ(info.XResolution, c.dpi) << c.value << " unit " << c.unit;
        DecodedImage image;
        ASSERT_EQ(testing::decode(file, image), kSuccess);
        EXPECT_NEAR(image.meta.xDpi, c.dpi, 0.51);
    }
    const imaging::FileInfoRecord info =
        testing::infoOf(fixture("none.tif", patterned(4, 4, 8, 1, 1)));
    EXPECT_EQ(info.XResolution, 0);
}

// Each sample layout and colour model decodes to 8-bit gray or RGB, alpha shown over white.
TEST_F(TiffTest, SamplesBecomeTheColoursTheyStandFor) {
    const auto with = [](TiffFixture f, std::vector<uint8_t> data) {
        std::copy(data.begin(), data.end(), f.data.begin());
        return f;
    };
    const auto constant = [](TiffFixture f, std::vector<uint8_t> sample) {
        for (size_t i = 0; i < f.data.size(); ++i)
            f.data[i] = sample[i % sample.size()];
        return f;
    };
    const uint16_t g16[4] = {0, 0x8080, 0xffff, 0x00ff};
    std::vector<uint8_t> gray16(8);
    std::memcpy(gray16.data(), g16, 8);
    TiffFixture palette = patterned(3, 1, 2, 1, PHOTOMETRIC_PALETTE);
    palette.data = {0b00011000};  // indexes 0, 1, 2
    palette.colormap = {0, 65535, 0, 0, 0, 0, 32896, 0, 0, 0, 0, 0};
    TiffFixture palette8bit = palette;  // a writer that stored 8-bit values: all below 256
    palette8bit.colormap = {0, 255, 0, 0, 0, 0, 128, 0, 0, 7, 0, 0};
    // Pixel 0: transparent; pixel 1: opaque red; pixel 2: half-covered black.
    const std::vector<uint8_t> rgba = {9, 9, 9, 0, 255, 0, 0, 255, 0, 0, 0, 128};
    const std::vector<uint8_t> overWhite = {255, 255, 255, 255, 0, 0, 127, 127, 127};
    const TiffFixture rgbaBase = patterned(16, 16, 8, 4, PHOTOMETRIC_RGB);
    // 16-bit CMYK, plane after plane, a strip per row: white, then full cyan with half black.
    TiffFixture cmyk16 = patterned(2, 2, 16, 4, PHOTOMETRIC_SEPARATED, COMPRESSION_LZW);
    cmyk16.planar = PLANARCONFIG_SEPARATE;
    cmyk16.rowsPerStrip = 1;
    const uint16_t planes[16] = {0, 0xffff, 0, 0xffff, 0, 0,      0, 0,
                                 0, 0,      0, 0,      0, 0x8000, 0, 0x8000};
    std::memcpy(cmyk16.data.data(), planes, sizeof planes);
    // RGB and an extra sample in planes of their own: left out when unspecified, alpha over white.
    const auto inPlanes = [](uint16_t extra) {
        TiffFixture f = withAlpha(patterned(5, 3, 8, 4, PHOTOMETRIC_RGB, COMPRESSION_LZW), extra);
        f.planar = PLANARCONFIG_SEPARATE;
        f.rowsPerStrip = 2;
        for (size_t i = 0; i < 15; ++i)
            for (size_t plane = 0; plane < 4; ++plane)
                f.data[plane * 15 + i] = plane == 3 ? 0 : uint8_t(10 + 90 * plane + i);
        return f;
    };
    struct Case {
        const char* name;
        TiffFixture fixture;
        std::vector<uint8_t> start;  // the first samples decoded, gray or RGB
        int tolerance;
    };
    const Case cases[] = {
        {"16-bit gray", with(patterned(4, 1, 16, 1, 1), gray16), {0, 128, 255, 1}, 0},
        {"min-is-white", with(patterned(4, 1, 8, 1, 0), {0, 10, 200, 255}), {255, 245, 55, 0}, 0},
        {"2-bit gray", with(patterned(4, 1, 2, 1, 1), {0b00011011}), {0, 85, 170, 255}, 0},
        {"4-bit min-is-white", with(patterned(2, 1, 4, 1, 0), {0x0f}), {255, 0}, 0},
        {"bilevel min-is-white",
         with(patterned(8, 1, 1, 1, 0), {0b10100000}),
         {0, 255, 0, 255, 255, 255, 255, 255},
         0},
        {"bilevel min-is-black",
         with(patterned(10, 1, 1, 1, 1), {0b10100000, 0b01000000}),
         {255, 0, 255, 0, 0, 0, 0, 0, 0, 255},
         0},
        {"palette, 16-bit entries", palette, {0, 0, 0, 255, 0, 0, 0, 128, 0}, 0},
        {"palette, 8-bit entries", palette8bit, {0, 0, 0, 255, 0, 7, 0, 128, 0}, 0},
        {"unassociated alpha", with(withAlpha(rgbaBase, EXTRASAMPLE_UNASSALPHA), rgba), overWhite,
         0},
        {"associated alpha", with(withAlpha(rgbaBase, EXTRASAMPLE_ASSOCALPHA), rgba), overWhite, 0},
        {"tiled alpha", with(tiled(withAlpha(rgbaBase, EXTRASAMPLE_UNASSALPHA)), rgba), overWhite,
         0},
        // White, black, cyan.
        {"cmyk",
         with(cmyk(COMPRESSION_NONE), {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0}),
         {255, 255, 255, 0, 0, 0, 0, 255, 255},
         0},
        {"extra sample planes", inPlanes(EXTRASAMPLE_UNSPECIFIED), {10, 100, 190, 11, 101, 191}, 0},
        {"alpha planes", inPlanes(EXTRASAMPLE_UNASSALPHA), {255, 255, 255, 255, 255, 255}, 0},
        {"16-bit cmyk planes", cmyk16, {255, 255, 255, 0, 127, 127, 255, 255, 255, 0, 127, 127}, 0},
        {"ycbcr", constant(ycc(COMPRESSION_LZW), {128}), {128, 128, 128, 128, 128, 128}, 2},
        {"jpeg ycbcr 4:2:0",
         constant(jpeg(PHOTOMETRIC_YCBCR, 2, 2), {200, 100, 50}),
         {200, 100, 50, 200, 100, 50},
         6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        ASSERT_EQ(testing::decode(fixture("samples.tif", c.fixture), image), kSuccess);
        const std::vector<uint8_t> got = visiblePixels(image.raster);
        ASSERT_GE(got.size(), c.start.size());
        for (size_t i = 0; i < c.start.size(); ++i)
            EXPECT_NEAR(got[i], c.start[i], c.tolerance) << "sample " << i;
    }
}

TEST_F(TiffTest, StripsTilesAndPlanesDecodeToTheSamePixels) {
    const TiffFixture base = patterned(37, 29, 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW);
    DecodedImage expected;
    ASSERT_EQ(testing::decode(fixture("base.tif", base), expected), kSuccess);
    for (size_t i = 0; i < base.data.size(); ++i)
        ASSERT_EQ(expected.raster.pixels[i], base.data[i]) << i;

    TiffFixture strips = base;
    strips.rowsPerStrip = 4;
    TiffFixture tiles = base;
    tiles.tileWidth = tiles.tileHeight = 16;
    TiffFixture planes = base;
    planes.planar = PLANARCONFIG_SEPARATE;
    planes.data.clear();
    for (int s = 0; s < 3; ++s)
        for (size_t i = size_t(s); i < base.data.size(); i += 3)
            planes.data.push_back(base.data[i]);
    TiffFixture wide = patterned(37, 29, 16, 3, PHOTOMETRIC_RGB, COMPRESSION_PACKBITS);
    for (const TiffFixture& f : {strips, tiles, planes, wide}) {
        DecodedImage image;
        ASSERT_EQ(testing::decode(fixture("variant.tif", f), image), kSuccess);
        EXPECT_EQ(image.raster.pixels, expected.raster.pixels)
            << "tiled " << f.tileWidth << " planar " << f.planar << " bits " << f.bitsPerSample;
    }
}

// Pages are counted in plain and BigTIFF files; the first is loaded.
TEST_F(TiffTest, PagesAreCountedAndTheFirstIsLoaded) {
    for (bool big : {false, true}) {
        TiffFixture f = patterned(8, 8, 8, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW);
        f.pages = 3;
        f.bigTiff = big;
        const QString file = fixture("pages.tif", f);
        const imaging::FileInfoRecord info = testing::infoOf(file);
        EXPECT_EQ(info.TotalPages, 3) << "BigTIFF " << big;
        DecodedImage image;
        ASSERT_EQ(testing::decode(file, image), kSuccess);
        EXPECT_EQ(image.raster.pixels, f.data);  // the later pages are inverted
    }
}

TEST_F(TiffTest, CcittOutputDecodesWithLibtiffTools) {
    const QString tiffcp = QStandardPaths::findExecutable("tiffcp");
    if (tiffcp.isEmpty())
        GTEST_SKIP() << "tiffcp is not installed";
    const Raster raster = testing::makeTextLike(301, 97, PixelFormat::Bilevel);
    for (int code : {27, 28, 29}) {
        const QString out = path("fax.tif");
        const QString plain = path("plain.tif");
        QFile::remove(plain);
        ASSERT_EQ(save(out, raster, code), kSuccess);
        QProcess process;
        process.start(tiffcp, {"-c", "none", out, plain});
        ASSERT_TRUE(process.waitForFinished(20000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        const imaging::FileInfoRecord info = testing::infoOf(plain);
        EXPECT_EQ(info.Format, 3);
        DecodedImage image;
        ASSERT_EQ(testing::decode(plain, image), kSuccess);
        EXPECT_EQ(image.raster.pixels, raster.pixels) << code;
    }
}

TEST_F(TiffTest, ProgressRisesPerStripAndCancelStops) {
    const Raster raster = testing::makePhotoLike(1000, 400);  // about 18 strips
    const QString out = path("big.tif");
    std::vector<int> seen;
    Progress progress([&](int p) {
        seen.push_back(p);
        return true;
    });
    ASSERT_EQ(makeTiffWriter()->write(out, raster, {}, {17, 0, {}}, progress), kSuccess);
    EXPECT_GE(seen.size(), 5u);
    testing::expectRisingProgress(seen);

    Progress cancel([](int p) { return p < 30; });
    EXPECT_EQ(makeTiffWriter()->write(path("cancel.tif"), raster, {}, {3, 0, {}}, cancel),
              kErrCancelled);

    FileHeader header;
    qint64 size = 0;
    ASSERT_EQ(readFileHeader(out, header, size), kSuccess);
    DecodedImage image;
    Progress cancelRead([](int p) { return p < 30; });
    EXPECT_EQ(makeTiffReader()->read(out, header, {}, image, cancelRead), kErrCancelled);
}

// Raw samples of one kind, for fixtures.
template <typename T>
std::vector<uint8_t> bytesOf(std::initializer_list<T> values) {
    std::vector<uint8_t> out(values.size() * sizeof(T));
    std::memcpy(out.data(), std::data(values), out.size());
    return out;
}

TiffFixture sampleFixture(uint32_t width, uint16_t bits, uint16_t kind, uint16_t samples,
                          uint16_t photometric, std::vector<uint8_t> data) {
    TiffFixture f;
    f.width = width;
    f.height = 1;
    f.bitsPerSample = bits;
    f.sampleFormat = kind;
    f.samplesPerPixel = samples;
    f.photometric = photometric;
    f.data = std::move(data);
    return f;
}

// Float samples map 0.0-1.0 (clipped), signed ones their full range, 32-bit and packed 12-bit ones
// are scaled to 16 bits; anything deeper than 8 bits stays deep.
TEST_F(TiffTest, SampleKindsMapToSixteenBitLevels) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        TiffFixture fixture;
        PixelFormat format;
        std::vector<uint16_t> levels;  // deep rasters; 8-bit ones as levels 0..255
    };
    // One row of gray samples, or one RGB pixel, of the kind and width given.
    const auto gray = [](uint16_t kind, uint16_t bits, std::vector<uint8_t> data,
                         uint16_t photometric = PHOTOMETRIC_MINISBLACK) {
        return sampleFixture(uint32_t(data.size() * 8 / bits), bits, kind, 1, photometric, data);
    };
    const auto rgb = [](uint16_t bits, std::vector<uint8_t> data) {
        return sampleFixture(1, bits, SAMPLEFORMAT_UINT, 3, PHOTOMETRIC_RGB, data);
    };
    constexpr uint16_t kFloat = SAMPLEFORMAT_IEEEFP, kInt = SAMPLEFORMAT_INT;
    const Case cases[] = {
        {"float32",
         gray(kFloat, 32, bytesOf<float>({0.0f, 0.5f, 1.0f, -1.0f, 2.0f, nan})),
         PixelFormat::Gray16,
         {0, 32768, 65535, 0, 65535, 0}},
        {"float64 min-is-white",
         gray(kFloat, 64, bytesOf<double>({0.0, 0.25}), 0),
         PixelFormat::Gray16,
         {65535, 49151}},
        {"int16",
         gray(kInt, 16, bytesOf<int16_t>({-32768, 0, 32767})),
         PixelFormat::Gray16,
         {0, 32768, 65535}},
        {"int8", gray(kInt, 8, bytesOf<int8_t>({-128, 0, 127})), PixelFormat::Gray8, {0, 128, 255}},
        {"int32",
         gray(kInt, 32, bytesOf<int32_t>({std::numeric_limits<int32_t>::min(), 0})),
         PixelFormat::Gray16,
         {0, 32768}},
        {"uint32 rgb",
         rgb(32, bytesOf<uint32_t>({0, 0x80000000u, 0xFFFFFFFFu})),
         PixelFormat::Rgb16,
         {0, 32768, 65535}},
        {"12-bit packed",
         gray(SAMPLEFORMAT_UINT, 12, {0xff, 0xf8, 0x00, 0x00, 0x10}),
         PixelFormat::Gray16,
         {65535, 32776, 16}},
        {"uint16 rgb",
         rgb(16, bytesOf<uint16_t>({1, 258, 65534})),
         PixelFormat::Rgb16,
         {1, 258, 65534}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        ASSERT_EQ(testing::decodeDeep(fixture("kind.tif", c.fixture), image), kSuccess);
        ASSERT_EQ(image.raster.format, c.format);
        if (image.raster.isDeep()) {
            EXPECT_EQ(testing::samples16(image.raster), c.levels);
        } else {
            EXPECT_EQ(std::vector<uint16_t>(image.raster.pixels.begin(), image.raster.pixels.end()),
                      c.levels);
        }
    }
}

// L*a*b* in the TIFF (signed a*, b*, relative to D65) and the ICC (offset a*, b*, relative to D50)
// encodings, 8 and 16 bits, against the sRGB values of white, black, mid gray and sRGB red.
TEST_F(TiffTest, LabBecomesSrgb) {
    struct Lab {
        double l, a, b;
    };
    const Lab d65[] = {{100, 0, 0}, {0, 0, 0}, {53.39, 0, 0}, {53.24, 80.09, 67.20}};
    const Lab d50[] = {{100, 0, 0}, {0, 0, 0}, {53.39, 0, 0}, {54.29, 80.80, 69.89}};
    const int expected[][3] = {{255, 255, 255}, {0, 0, 0}, {128, 128, 128}, {255, 0, 0}};
    for (uint16_t photometric : {uint16_t(PHOTOMETRIC_CIELAB), uint16_t(PHOTOMETRIC_ICCLAB)})
        for (uint16_t bits : {uint16_t(8), uint16_t(16)}) {
            SCOPED_TRACE(::testing::Message() << "photometric " << photometric << " bits " << bits);
            const bool icc = photometric == PHOTOMETRIC_ICCLAB;
            std::vector<uint8_t> data;
            for (const Lab& c : icc ? d50 : d65) {
                if (bits == 8) {
                    data.push_back(uint8_t(std::lrint(c.l * 255 / 100)));
                    for (double v : {c.a, c.b})
                        data.push_back(uint8_t(std::lrint(v) + (icc ? 128 : 0)));
                } else {
                    uint16_t s[3] = {uint16_t(std::lrint(c.l * 65535 / 100)), 0, 0};
                    for (int k = 1; k < 3; ++k)
                        s[k] = uint16_t(std::lrint((k == 1 ? c.a : c.b) * 256) + (icc ? 32768 : 0));
                    const auto* b = reinterpret_cast<const uint8_t*>(s);
                    data.insert(data.end(), b, b + 6);
                }
            }
            DecodedImage image;
            ASSERT_EQ(
                testing::decodeDeep(fixture("lab.tif", sampleFixture(4, bits, SAMPLEFORMAT_UINT, 3,
                                                                     photometric, data)),
                                    image),
                kSuccess);
            ASSERT_EQ(image.raster.format, bits == 16 ? PixelFormat::Rgb16 : PixelFormat::Rgb8);
            Raster eightBit;
            ASSERT_EQ(reduceToEightBit(image.raster, eightBit), kSuccess);
            for (int i = 0; i < 4; ++i)
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(eightBit.pixels[size_t(3 * i + c)], expected[i][c], 2)
                        << "colour " << i << " channel " << c;
        }
}

}  // namespace
}  // namespace pixavant::imaging
