#include <gtest/gtest.h>
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <sys/resource.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstring>
#include <random>

#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixelOps.h"

namespace pixavant::imaging {
namespace {

// ---- fixtures ------------------------------------------------------------------------------

// Smooth gradients with some texture and a few hard edges, like a small photograph.
Raster photoLike(int width, int height, PixelFormat format = PixelFormat::Rgb8) {
    Raster raster;
    raster.width = width;
    raster.height = height;
    raster.format = format;
    EXPECT_TRUE(raster.allocate());
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = raster.row(y);
        for (int x = 0; x < width; ++x) {
            const double fx = double(x) / width;
            const double fy = double(y) / height;
            int r = int(120 + 100 * std::sin(6 * fx + 2 * fy));
            int g = int(110 + 90 * std::cos(5 * fy - 3 * fx));
            int b = int(100 + 60 * std::sin(9 * fx * fy));
            if ((x / 24 + y / 24) % 5 == 0)
                r = g = b = 230;  // flat patches with edges
            const int n = noise(random);
            auto clamp = [](int v) { return uint8_t(std::clamp(v, 0, 255)); };
            if (format == PixelFormat::Rgb8) {
                row[3 * x] = clamp(r + n);
                row[3 * x + 1] = clamp(g + n);
                row[3 * x + 2] = clamp(b + n);
            } else {
                row[x] = clamp((r + g + b) / 3 + n);
            }
        }
    }
    return raster;
}

// Black strokes on white, 0 and 255 only.
Raster textLike(int width, int height) {
    Raster raster;
    raster.width = width;
    raster.height = height;
    raster.format = PixelFormat::Gray8;
    EXPECT_TRUE(raster.allocate());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool ink =
                (y % 16 < 9) && (x % 7 < 2 || (x * 3 + y) % 11 == 0) && x > 4 && x < width - 4;
            raster.row(y)[x] = ink ? 0 : 255;
        }
    return raster;
}

struct JxlFixture {
    int width = 4;
    int height = 3;
    uint32_t channels = 3;  // colour channels
    bool alpha = false;
    JxlOrientation orientation = JXL_ORIENT_IDENTITY;
    bool displayP3 = false;  // an enumerated colour space other than sRGB
    bool container = true;
    std::vector<uint8_t> pixels;  // interleaved, 8 bits, with alpha when `alpha`
};

// Encodes a small lossless JPEG XL file directly with libjxl, for what PIXAVANT never writes.
std::vector<uint8_t> encodeFixture(const JxlFixture& f) {
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(f.width);
    info.ysize = uint32_t(f.height);
    info.bits_per_sample = 8;
    info.num_color_channels = f.channels;
    info.uses_original_profile = JXL_TRUE;
    info.orientation = f.orientation;
    if (f.alpha) {
        info.num_extra_channels = 1;
        info.alpha_bits = 8;
    }
    EXPECT_EQ(JxlEncoderUseContainer(encoder, f.container), JXL_ENC_SUCCESS);
    EXPECT_EQ(JxlEncoderSetBasicInfo(encoder, &info), JXL_ENC_SUCCESS);
    JxlColorEncoding colour{};
    JxlColorEncodingSetToSRGB(&colour, f.channels == 1);
    if (f.displayP3)
        colour.primaries = JXL_PRIMARIES_P3;
    EXPECT_EQ(JxlEncoderSetColorEncoding(encoder, &colour), JXL_ENC_SUCCESS);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    EXPECT_EQ(JxlEncoderSetFrameLossless(settings, JXL_TRUE), JXL_ENC_SUCCESS);
    const JxlPixelFormat format{f.channels + (f.alpha ? 1u : 0u), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                0};
    EXPECT_EQ(JxlEncoderAddImageFrame(settings, &format, f.pixels.data(), f.pixels.size()),
              JXL_ENC_SUCCESS);
    JxlEncoderCloseInput(encoder);
    std::vector<uint8_t> out(1 << 16);
    uint8_t* next = out.data();
    size_t avail = out.size();
    EXPECT_EQ(JxlEncoderProcessOutput(encoder, &next, &avail), JXL_ENC_SUCCESS);
    out.resize(size_t(next - out.data()));
    JxlEncoderDestroy(encoder);
    return out;
}

// A bare codestream whose header claims width x height and nothing else.
std::vector<uint8_t> headerClaiming(uint32_t width, uint32_t height) {
    std::vector<uint8_t> bytes = {0xFF, 0x0A};
    uint64_t bits = 0;
    int count = 0;
    auto put = [&](uint64_t value, int n) {
        bits |= value << count;
        count += n;
    };
    put(0, 1);  // not a small size
    put(2, 2);  // height - 1 in 18 bits
    put(height - 1, 18);
    put(0, 3);  // no ratio: the width follows
    put(2, 2);
    put(width - 1, 18);
    put(1, 1);  // image metadata: all default
    for (int i = 0; i < count; i += 8)
        bytes.push_back(uint8_t(bits >> i));
    bytes.resize(bytes.size() + 64, 0);
    return bytes;
}

bool writeBytes(const QString& path, const std::vector<uint8_t>& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
               qint64(bytes.size());
}

std::vector<uint8_t> readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    return {data.begin(), data.end()};
}

int writeDirect(const QString& path, const Raster& raster, int code, int quality = -1,
                SaveResolution dpi = {}, const ImageMeta& meta = {}) {
    QFile(path).open(QIODevice::WriteOnly);  // the writer is given an existing empty file
    Progress progress;
    return makePixavantWriter()->write(path, raster, meta, SaveRequest{code, quality, dpi},
                                       progress);
}

int readDirect(const QString& path, DecodedImage& image) {
    FileHeader header;
    qint64 size = 0;
    if (const int status = readFileHeader(path, header, size); status != kSuccess)
        return status;
    auto reader = makePixavantReader();
    if (!reader->recognises(header))
        return kErrFormat;
    Progress progress;
    return reader->read(path, header, {}, image, progress);
}

int readInfoDirect(const QString& path, FileInfoRecord& record) {
    FileHeader header;
    qint64 size = 0;
    if (const int status = readFileHeader(path, header, size); status != kSuccess)
        return status;
    return makePixavantReader()->readInfo(path, header, record);
}

void setSaveResolution(int32_t x, int32_t y) {
    ExtFileOptionBlock block{};
    writeInt32(&block[0], x);
    writeInt32(&block[4], y);
    L_SetExtFileOption(block.data());
}

double psnr(const Raster& a, const Raster& b) {
    double sum = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        const double d = double(a.pixels[i]) - double(b.pixels[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.pixels.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class PixavantFormatTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { setSaveResolution(0, 0); }
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

// ---- round trips through the control -----------------------------------------------------

struct RoundTrip {
    const char* name;
    bool gray;
    bool text;
    int code;
    int quality;
    SaveResolution dpi;
    int bits;
    const char* compression;
    double minPsnr;  // 0: pixel-exact
};

class PixavantRoundTrip : public PixavantFormatTest,
                          public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(PixavantRoundTrip, SavedFileReportsWhatWasWrittenAndDecodesBack) {
    const RoundTrip& c = GetParam();
    const Raster source =
        c.text ? textLike(300, 200)
               : photoLike(300, 200, c.gray ? PixelFormat::Gray8 : PixelFormat::Rgb8);
    // The control loads its image from a lossless file of ours.
    const QString input = path("input.jxl");
    ASSERT_EQ(writeDirect(input, source, format::kPixavantLossless), kSuccess);
    ImagingControl control;
    ASSERT_EQ(control.load(input, 0, 0, 1), kSuccess);

    setSaveResolution(c.dpi.x, c.dpi.y);
    const QString output = path("output.jxl");
    ASSERT_EQ(control.save(output, int16_t(c.code), 0, int16_t(c.quality), 0), kSuccess);

    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(output, info), 1);
    EXPECT_EQ(info.Format, c.code);
    EXPECT_EQ(info.Width, 300);
    EXPECT_EQ(info.Height, 200);
    EXPECT_EQ(info.BitsPerPixel, c.bits);
    EXPECT_EQ(info.Compression, QString::fromLatin1(c.compression));
    EXPECT_EQ(info.XResolution, c.dpi.x);
    EXPECT_EQ(info.YResolution, c.dpi.y);
    EXPECT_EQ(info.SizeDisk, QFile(output).size());
    EXPECT_EQ(info.SizeMem, imageDataSize(300, 200, c.bits));

    ImagingControl reloaded;
    ASSERT_EQ(reloaded.load(output, 0, 0, 1), kSuccess);
    const Raster& back = reloaded.displayRaster();
    ASSERT_EQ(back.format, source.format);
    ASSERT_EQ(back.width, 300);
    ASSERT_EQ(back.height, 200);
    if (c.minPsnr == 0)
        EXPECT_EQ(back.pixels, source.pixels);
    else
        EXPECT_GT(psnr(back, source), c.minPsnr);
    EXPECT_DOUBLE_EQ(reloaded.meta().xDpi, c.dpi.x);
    EXPECT_DOUBLE_EQ(reloaded.meta().yDpi, c.dpi.y);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PixavantRoundTrip,
    ::testing::Values(
        RoundTrip{"LosslessRgb", false, false, 30, 0, {300, 300}, 24, "JPEG XL lossless", 0},
        RoundTrip{"LosslessGray", true, false, 30, 0, {72, 72}, 8, "JPEG XL lossless", 0},
        RoundTrip{"BilevelText", false, true, 26, 0, {200, 100}, 1, "JPEG XL lossless", 0},
        RoundTrip{"LossyRgbBest", false, false, 5, -1, {96, 96}, 24, "JPEG XL", 35},
        RoundTrip{"LossyGrayBest", true, false, 5, -1, {0, 0}, 8, "JPEG XL", 35},
        RoundTrip{"LossySmallest", false, false, 5, -9, {150, 150}, 24, "JPEG XL", 20}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the depth asked at saving ----------------------------------------------------------------

struct SavedDepth {
    const char* name;
    bool gray;
    int code;
    int16_t bitsAsked;
    int bitsStored;
};

class PixavantSavedDepth : public PixavantFormatTest,
                           public ::testing::WithParamInterface<SavedDepth> {};

TEST_P(PixavantSavedDepth, FileHoldsTheNearestDepth) {
    const SavedDepth& c = GetParam();
    const Raster source = photoLike(120, 80, c.gray ? PixelFormat::Gray8 : PixelFormat::Rgb8);
    ASSERT_EQ(writeDirect(path("in.jxl"), source, format::kPixavantLossless), kSuccess);
    ImagingControl control;
    ASSERT_EQ(control.load(path("in.jxl"), 0, 0, 1), kSuccess);
    ASSERT_EQ(control.save(path("out.jxl"), int16_t(c.code), c.bitsAsked, -2, 0), kSuccess);
    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(path("out.jxl"), info), 1);
    EXPECT_EQ(info.Format, c.code);
    EXPECT_EQ(info.BitsPerPixel, c.bitsStored);

    ImagingControl reloaded;
    ASSERT_EQ(reloaded.load(path("out.jxl"), 0, 0, 1), kSuccess);
    const Raster& back = reloaded.displayRaster();
    if (c.code == format::kPixavant1Bit) {
        // Dithered: black and white only, about as bright as the source.
        ASSERT_EQ(back.format, PixelFormat::Gray8);
        double sum = 0;
        for (const uint8_t v : back.pixels) {
            ASSERT_TRUE(v == 0 || v == 255);
            sum += v;
        }
        Raster gray = source;
        ASSERT_EQ(convertToGray(gray), kSuccess);
        double sourceSum = 0;
        for (const uint8_t v : gray.pixels)
            sourceSum += v;
        EXPECT_NEAR(sum / double(back.pixels.size()), sourceSum / double(gray.pixels.size()), 8);
    } else if (c.bitsStored == 15) {
        // Five significant bits per sample, exactly as the control reduced them.
        Raster reduced;
        ASSERT_EQ(convertDepth(source, 16, reduced), kSuccess);
        EXPECT_EQ(back.pixels, reduced.pixels);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, PixavantSavedDepth,
                         ::testing::Values(SavedDepth{"FiveBitColour", false, 30, 16, 15},
                                           SavedDepth{"PaletteAsColour", false, 30, 8, 24},
                                           SavedDepth{"GrayStaysGray", true, 30, 8, 8},
                                           SavedDepth{"LossyFromFiveBit", false, 5, 16, 24},
                                           SavedDepth{"BilevelDitheredFromColour", false, 26, 24,
                                                      1},
                                           SavedDepth{"BilevelAskedForGray", true, 26, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- what the writer makes of other rasters ------------------------------------------------

TEST_F(PixavantFormatTest, FiveBitSamplesAreStoredAtTheirDepthAndComeBackExactly) {
    Raster source = photoLike(64, 48);
    for (uint8_t& v : source.pixels)
        v = uint8_t(std::lrint(std::lrint(v * 31 / 255.0) * 255 / 31.0));
    source.significantBits = 5;
    ASSERT_EQ(writeDirect(path("five.jxl"), source, format::kPixavantLossless), kSuccess);
    FileInfoRecord info;
    ASSERT_EQ(readInfoDirect(path("five.jxl"), info), kSuccess);
    EXPECT_EQ(info.Format, format::kPixavantLossless);
    EXPECT_EQ(info.BitsPerPixel, 15);
    DecodedImage image;
    ASSERT_EQ(readDirect(path("five.jxl"), image), kSuccess);
    EXPECT_EQ(image.raster.pixels, source.pixels);
}

TEST_F(PixavantFormatTest, PaletteImagesAreWrittenAsColour) {
    Raster source;
    source.width = 3;
    source.height = 2;
    source.format = PixelFormat::Indexed8;
    source.pixels = {0, 1, 2, 2, 1, 0};
    source.palette = {{255, 0, 0}, {0, 128, 0}, {10, 20, 30}};
    ASSERT_EQ(writeDirect(path("palette.jxl"), source, format::kPixavantLossless), kSuccess);
    DecodedImage image;
    ASSERT_EQ(readDirect(path("palette.jxl"), image), kSuccess);
    EXPECT_EQ(image.raster.format, PixelFormat::Rgb8);
    const std::vector<uint8_t> expected = {255, 0,  0,  0, 128, 0, 10,  20, 30,
                                           10,  20, 30, 0, 128, 0, 255, 0,  0};
    EXPECT_EQ(image.raster.pixels, expected);
}

TEST_F(PixavantFormatTest, EachLevelIsStrictlySmallerAndOtherFactorsAreClamped) {
    const Raster source = photoLike(256, 256);
    std::vector<qint64> sizes;
    for (int level = -1; level >= -9; --level) {
        const QString file = path(QStringLiteral("level%1.jxl").arg(-level));
        ASSERT_EQ(writeDirect(file, source, format::kPixavant, level), kSuccess);
        sizes.push_back(QFile(file).size());
        if (sizes.size() > 1) {
            EXPECT_LT(sizes.back(), sizes[sizes.size() - 2]) << "level " << level;
        }
    }
    // Beyond the scale: the nearest level.
    ASSERT_EQ(writeDirect(path("zero.jxl"), source, format::kPixavant, 0), kSuccess);
    ASSERT_EQ(writeDirect(path("far.jxl"), source, format::kPixavant, -40), kSuccess);
    EXPECT_EQ(readBytes(path("zero.jxl")), readBytes(path("level1.jxl")));
    EXPECT_EQ(readBytes(path("far.jxl")), readBytes(path("level9.jxl")));
}

TEST_F(PixavantFormatTest, FilesAreInTheContainerWithAStandardExifBox) {
    ASSERT_EQ(writeDirect(path("c.jxl"), textLike(40, 30), format::kPixavant1Bit, 0, {300, 600}),
              kSuccess);
    const std::vector<uint8_t> bytes = readBytes(path("c.jxl"));
    const std::vector<uint8_t> signature = {0,   0,   0,    0x0C, 'J',  'X',
                                            'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    ASSERT_GT(bytes.size(), signature.size());
    EXPECT_TRUE(std::equal(signature.begin(), signature.end(), bytes.begin()));
    // The Exif box: 4-byte offset 0, then a big-endian TIFF header.
    const std::vector<uint8_t> exifTiff = {'E', 'x', 'i', 'f', 0, 0, 0, 0, 'M', 'M', 0, 42};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), exifTiff.begin(), exifTiff.end()),
              bytes.end());
    // No resolution: no box.
    ASSERT_EQ(writeDirect(path("n.jxl"), textLike(40, 30), format::kPixavant1Bit), kSuccess);
    const std::vector<uint8_t> plain = readBytes(path("n.jxl"));
    const std::vector<uint8_t> exifType = {'E', 'x', 'i', 'f'};
    EXPECT_EQ(std::search(plain.begin(), plain.end(), exifType.begin(), exifType.end()),
              plain.end());
}

TEST_F(PixavantFormatTest, ColourProfilesTravelWithLosslessFiles) {
    // A Display P3 file: the reader hands its profile on, the writer stores it.
    JxlFixture p3;
    p3.displayP3 = true;
    p3.pixels.assign(size_t(p3.width * p3.height * 3), 200);
    ASSERT_TRUE(writeBytes(path("p3.jxl"), encodeFixture(p3)));
    DecodedImage image;
    ASSERT_EQ(readDirect(path("p3.jxl"), image), kSuccess);
    ASSERT_FALSE(image.meta.iccProfile.empty());

    ASSERT_EQ(
        writeDirect(path("copy.jxl"), image.raster, format::kPixavantLossless, 0, {}, image.meta),
        kSuccess);
    DecodedImage copy;
    ASSERT_EQ(readDirect(path("copy.jxl"), copy), kSuccess);
    EXPECT_EQ(copy.meta.iccProfile, image.meta.iccProfile);
    EXPECT_EQ(copy.raster.pixels, image.raster.pixels);

    // A gray output does not take an RGB profile.
    Raster gray = photoLike(4, 3, PixelFormat::Gray8);
    ASSERT_EQ(writeDirect(path("gray.jxl"), gray, format::kPixavantLossless, 0, {}, image.meta),
              kSuccess);
    DecodedImage grayBack;
    ASSERT_EQ(readDirect(path("gray.jxl"), grayBack), kSuccess);
    EXPECT_TRUE(grayBack.meta.iccProfile.empty());

    // A lossy file converts from the profile; the colours keep their meaning.
    ASSERT_EQ(writeDirect(path("lossy.jxl"), image.raster, format::kPixavant, -1, {}, image.meta),
              kSuccess);
    DecodedImage lossy;
    ASSERT_EQ(readDirect(path("lossy.jxl"), lossy), kSuccess);
    EXPECT_FALSE(lossy.meta.iccProfile.empty());
    EXPECT_GT(psnr(lossy.raster, image.raster), 35);

    // A profile libjxl cannot use is dropped: the file is still written, as sRGB.
    ImageMeta junk;
    junk.iccProfile.assign(300, 0x5A);
    std::memcpy(junk.iccProfile.data() + 16, "RGB ", 4);
    for (const int code : {format::kPixavantLossless, format::kPixavant}) {
        ASSERT_EQ(writeDirect(path("junk.jxl"), image.raster, code, -1, {}, junk), kSuccess);
        DecodedImage back;
        ASSERT_EQ(readDirect(path("junk.jxl"), back), kSuccess);
        EXPECT_TRUE(back.meta.iccProfile.empty());
    }
}

// ---- the resolution record as other tools may write it ------------------------------------------

struct ExifPatch {
    const char* name;
    size_t offset;  // in the Exif box payload
    std::vector<uint8_t> bytes;
    int32_t dpi;
};

class PixavantExifRecord : public PixavantFormatTest,
                           public ::testing::WithParamInterface<ExifPatch> {};

TEST_P(PixavantExifRecord, ResolutionFollowsTheUnitAndDamageIsIgnored) {
    const ExifPatch& c = GetParam();
    ASSERT_EQ(writeDirect(path("r.jxl"), textLike(40, 30), format::kPixavant1Bit, 0, {300, 300}),
              kSuccess);
    std::vector<uint8_t> bytes = readBytes(path("r.jxl"));
    const std::vector<uint8_t> type = {'E', 'x', 'i', 'f'};
    const auto box = std::search(bytes.begin(), bytes.end(), type.begin(), type.end());
    ASSERT_NE(box, bytes.end());
    const size_t payload = size_t(box - bytes.begin()) + 4;
    // As written: offset 0, "MM", three entries; the unit (2, inches) is the third one's value.
    ASSERT_EQ(bytes[payload + 4], 'M');
    ASSERT_EQ(bytes[payload + 46], 0);
    ASSERT_EQ(bytes[payload + 47], 2);
    ASSERT_LE(payload + c.offset + c.bytes.size(), bytes.size());
    std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + ptrdiff_t(payload + c.offset));
    ASSERT_TRUE(writeBytes(path("r.jxl"), bytes));

    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(path("r.jxl"), info), 1);
    EXPECT_EQ(info.XResolution, c.dpi);
    EXPECT_EQ(info.YResolution, c.dpi);
    DecodedImage image;
    ASSERT_EQ(readDirect(path("r.jxl"), image), kSuccess);
    EXPECT_DOUBLE_EQ(image.meta.xDpi, c.dpi);
}

INSTANTIATE_TEST_SUITE_P(
    Records, PixavantExifRecord,
    ::testing::Values(ExifPatch{"Inches", 47, {2}, 300}, ExifPatch{"Centimetres", 47, {3}, 762},
                      ExifPatch{"NoAbsoluteUnit", 47, {1}, 0},
                      ExifPatch{"OffsetBeyondTheBox", 0, {0x7F, 0xFF, 0xFF, 0xFF}, 0},
                      ExifPatch{"NotTiff", 4, {'X', 'X', 0, 0}, 0},
                      ExifPatch{"EntryCountBeyondTheData", 12, {0xFF, 0xFF}, 300}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- reading files of other origin ----------------------------------------------------------

TEST_F(PixavantFormatTest, OrientationAndTransparencyAreAppliedOnReading) {
    JxlFixture f;
    f.width = 3;
    f.height = 2;
    f.channels = 1;
    f.alpha = true;
    f.orientation = JXL_ORIENT_ROTATE_90_CW;
    f.container = false;  // a bare codestream, as other tools write it
    // gray, alpha:  row 0: 10/255 20/255 30/0 ; row 1: 40/255 50/255 60/255
    f.pixels = {10, 255, 20, 255, 30, 0, 40, 255, 50, 255, 60, 255};
    ASSERT_TRUE(writeBytes(path("o.jxl"), encodeFixture(f)));

    FileInfoRecord info;
    ASSERT_EQ(readInfoDirect(path("o.jxl"), info), kSuccess);
    EXPECT_EQ(info.Width, 2);
    EXPECT_EQ(info.Height, 3);
    EXPECT_EQ(info.BitsPerPixel, 8);
    EXPECT_EQ(info.Format, format::kPixavantLossless);
    EXPECT_EQ(info.XResolution, 0);

    DecodedImage image;
    ASSERT_EQ(readDirect(path("o.jxl"), image), kSuccess);
    ASSERT_EQ(image.raster.format, PixelFormat::Gray8);
    ASSERT_EQ(image.raster.width, 2);
    ASSERT_EQ(image.raster.height, 3);
    // Turned a quarter clockwise; the transparent pixel shows white.
    const std::vector<uint8_t> expected = {40, 10, 50, 20, 60, 255};
    EXPECT_EQ(image.raster.pixels, expected);
    EXPECT_TRUE(image.meta.iccProfile.empty());
}

// ---- bad input ---------------------------------------------------------------------------

struct BadInput {
    const char* name;
    std::vector<uint8_t> (*make)(const std::vector<uint8_t>& valid);
    int infoStatus;  // what readInfo answers; -1: anything but success
    int readStatus;
};

std::vector<uint8_t> randomBytes(size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes)
        b = uint8_t(random());
    return bytes;
}

class PixavantBadInput : public PixavantFormatTest,
                         public ::testing::WithParamInterface<BadInput> {};

TEST_P(PixavantBadInput, FailsCleanly) {
    const BadInput& c = GetParam();
    ASSERT_EQ(writeDirect(path("valid.jxl"), photoLike(200, 150), format::kPixavantLossless, 0,
                          {300, 300}),
              kSuccess);
    ASSERT_TRUE(writeBytes(path("bad.jxl"), c.make(readBytes(path("valid.jxl")))));

    FileHeader header;
    qint64 size = 0;
    ASSERT_EQ(readFileHeader(path("bad.jxl"), header, size), kSuccess);
    auto reader = makePixavantReader();
    FileInfoRecord info;
    const int infoStatus = reader->readInfo(path("bad.jxl"), header, info);
    if (c.infoStatus < 0)
        EXPECT_NE(infoStatus, kSuccess);
    else
        EXPECT_EQ(infoStatus, c.infoStatus);
    DecodedImage image;
    Progress progress;
    EXPECT_EQ(reader->read(path("bad.jxl"), header, {}, image, progress), c.readStatus);
    EXPECT_TRUE(image.raster.pixels.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, PixavantBadInput,
    ::testing::Values(
        BadInput{"Empty", [](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; },
                 kErrCorrupt, kErrCorrupt},
        BadInput{"SignatureOnly",
                 [](const std::vector<uint8_t>& v) {
                     return std::vector<uint8_t>(v.begin(), v.begin() + 12);
                 },
                 kErrCorrupt, kErrCorrupt},
        BadInput{"TruncatedAfterHeader",
                 [](const std::vector<uint8_t>& v) {
                     return std::vector<uint8_t>(v.begin(), v.begin() + ptrdiff_t(v.size() / 2));
                 },
                 kSuccess, kErrCorrupt},
        BadInput{"RandomAfterContainerSignature",
                 [](const std::vector<uint8_t>& v) {
                     std::vector<uint8_t> bytes(v.begin(), v.begin() + 12);
                     const auto noise = randomBytes(5000, 1);
                     bytes.insert(bytes.end(), noise.begin(), noise.end());
                     return bytes;
                 },
                 -1, kErrCorrupt},
        BadInput{"RandomAfterCodestreamSignature",
                 [](const std::vector<uint8_t>&) {
                     std::vector<uint8_t> bytes = {0xFF, 0x0A};
                     const auto noise = randomBytes(5000, 2);
                     bytes.insert(bytes.end(), noise.begin(), noise.end());
                     return bytes;
                 },
                 -1, kErrCorrupt},
        BadInput{"CorruptedPixelData",
                 [](const std::vector<uint8_t>& v) {
                     std::vector<uint8_t> bytes = v;
                     const auto noise = randomBytes(bytes.size() / 2, 3);
                     std::copy(noise.begin(), noise.end(),
                               bytes.begin() + ptrdiff_t(bytes.size() / 3));
                     return bytes;
                 },
                 kSuccess, kErrCorrupt},  // the information needs only the intact header
        BadInput{"HugeImageHeader",
                 [](const std::vector<uint8_t>&) { return headerClaiming(100000, 100000); },
                 kErrNoMemory, kErrNoMemory},
        BadInput{"JustOverTheLimit",
                 [](const std::vector<uint8_t>&) { return headerClaiming(16385, 16384); },
                 kErrNoMemory, kErrNoMemory}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PixavantFormatTest, RecognisesBothSignaturesAndNothingElse) {
    auto reader = makePixavantReader();
    auto header = [](std::vector<uint8_t> bytes) {
        return FileHeader{
            QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())), {}};
    };
    EXPECT_TRUE(reader->recognises(header({0xFF, 0x0A, 1, 2})));
    EXPECT_TRUE(
        reader->recognises(header({0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A, 0})));
    EXPECT_FALSE(reader->recognises(header({0xFF, 0xD8, 0xFF, 0xE0})));
    EXPECT_FALSE(reader->recognises(header({0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A})));
    EXPECT_FALSE(reader->recognises(header({0xFF})));
}

// ---- writing failures and cancelling -------------------------------------------------------

TEST_F(PixavantFormatTest, FullDiskIsAWriteFailure) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full";
    Progress progress;
    EXPECT_EQ(makePixavantWriter()->write(QStringLiteral("/dev/full"), photoLike(64, 64), {},
                                          SaveRequest{format::kPixavant, -2, {}}, progress),
              kErrWrite);
}

TEST_F(PixavantFormatTest, FileSizeLimitIsAWriteFailureAndLeavesNothing) {
    ImagingControl control;  // ignores SIGXFSZ: the write fails with EFBIG instead
    ASSERT_EQ(writeDirect(path("in.jxl"), photoLike(300, 200), format::kPixavantLossless),
              kSuccess);
    ASSERT_EQ(control.load(path("in.jxl"), 0, 0, 1), kSuccess);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int16_t status = control.save(path("out.jxl"), format::kPixavantLossless, 0, 0, 0);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(status, kErrWrite);
    EXPECT_FALSE(QFile::exists(path("out.jxl")));
}

TEST_F(PixavantFormatTest, CancelFromProgressAbandonsReadAndWrite) {
    const Raster source = photoLike(400, 300);
    ASSERT_EQ(writeDirect(path("in.jxl"), source, format::kPixavantLossless), kSuccess);
    for (const int code : {format::kPixavant, format::kPixavant1Bit, format::kPixavantLossless}) {
        int calls = 0;
        Progress progress([&](int) { return ++calls < 2; });
        QFile(path("out.jxl")).open(QIODevice::WriteOnly);
        const Raster raster = code == format::kPixavant1Bit ? textLike(400, 300) : source;
        EXPECT_EQ(makePixavantWriter()->write(path("out.jxl"), raster, {},
                                              SaveRequest{code, -3, {}}, progress),
                  kErrCancelled)
            << code;
    }
    std::vector<int> seen;
    Progress progress([&](int percent) {
        seen.push_back(percent);
        return seen.size() < 2;
    });
    FileHeader header;
    qint64 size = 0;
    ASSERT_EQ(readFileHeader(path("in.jxl"), header, size), kSuccess);
    DecodedImage image;
    const int status = makePixavantReader()->read(path("in.jxl"), header, {}, image, progress);
    // A small file may be decoded before the second report comes: then it simply succeeds.
    if (seen.size() >= 2)
        EXPECT_EQ(status, kErrCancelled);
    else
        EXPECT_EQ(status, kSuccess);
}

// ---- other decoders open our files -----------------------------------------------------------

// Reads a binary PGM or PPM written by djxl.
bool readPnm(const QString& file, Raster& raster) {
    const std::vector<uint8_t> bytes = readBytes(file);
    int fields[3] = {};
    size_t pos = 2;
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        return false;
    for (int& field : fields) {
        while (pos < bytes.size() && std::isspace(bytes[pos]))
            ++pos;
        while (pos < bytes.size() && std::isdigit(bytes[pos]))
            field = field * 10 + (bytes[pos++] - '0');
    }
    ++pos;
    if (fields[2] != 255)
        return false;
    raster.width = fields[0];
    raster.height = fields[1];
    raster.format = bytes[1] == '5' ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    const size_t expected = raster.rowBytes() * size_t(raster.height);
    if (bytes.size() - pos != expected)
        return false;
    raster.pixels.assign(bytes.begin() + ptrdiff_t(pos), bytes.end());
    return true;
}

TEST_F(PixavantFormatTest, LibjxlsOwnDecoderReadsEveryCode) {
    const QString djxl = QStandardPaths::findExecutable(QStringLiteral("djxl"));
    if (djxl.isEmpty())
        GTEST_SKIP() << "djxl (libjxl-tools) is not installed";
    struct Case {
        int code;
        Raster raster;
        const char* ext;
    };
    Raster five = photoLike(50, 40);
    for (uint8_t& v : five.pixels)
        v = uint8_t(std::lrint(std::lrint(v * 31 / 255.0) * 255 / 31.0));
    five.significantBits = 5;
    const Case cases[] = {{format::kPixavant, photoLike(50, 40), "ppm"},
                          {format::kPixavantLossless, photoLike(50, 40, PixelFormat::Gray8), "pgm"},
                          {format::kPixavantLossless, five, "ppm"},
                          {format::kPixavant1Bit, textLike(50, 40), "pgm"}};
    int n = 0;
    for (const Case& c : cases) {
        const QString in = path(QStringLiteral("d%1.jxl").arg(n));
        const QString out = path(QStringLiteral("d%1.%2").arg(n++).arg(QLatin1String(c.ext)));
        ASSERT_EQ(writeDirect(in, c.raster, c.code, -2, {300, 300}), kSuccess);
        QProcess process;
        process.start(djxl, {in, out, QStringLiteral("--bits_per_sample=8")});
        ASSERT_TRUE(process.waitForFinished(30000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        Raster decoded;
        ASSERT_TRUE(readPnm(out, decoded)) << out.toStdString();
        ASSERT_EQ(decoded.width, 50);
        ASSERT_EQ(decoded.height, 40);
        if (c.code == format::kPixavant) {
            // The same pixels as our own decoder gives, give or take rounding.
            DecodedImage ours;
            ASSERT_EQ(readDirect(in, ours), kSuccess);
            EXPECT_GT(psnr(decoded, ours.raster), 45);
            EXPECT_GT(psnr(decoded, c.raster), 30);
        } else {
            EXPECT_EQ(decoded.pixels, c.raster.pixels) << "code " << c.code;
        }
    }
}

}  // namespace
}  // namespace pixavant::imaging
