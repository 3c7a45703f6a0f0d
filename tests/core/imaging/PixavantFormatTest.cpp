#include <jxl/encode.h>

#include <QProcess>
#include <QStandardPaths>
#include <cmath>
#include <cstring>

#include "ImagingFixtures.h"
#include "imaging/Verification.h"

namespace pixavant::imaging {
namespace {

using testing::makeGrayPhoto;
using testing::makePhotoLike;
using testing::makeTextLike;

// A lossless 4 x 3 Display P3 file (an enumerated colour space other than sRGB) as a bare
// codestream, as other tools write it, encoded directly with libjxl.
QByteArray displayP3Codestream() {
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = 4;
    info.ysize = 3;
    info.bits_per_sample = 8;
    info.num_color_channels = 3;
    info.uses_original_profile = JXL_TRUE;
    EXPECT_EQ(JxlEncoderSetBasicInfo(encoder, &info), JXL_ENC_SUCCESS);
    JxlColorEncoding colour{};
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    colour.primaries = JXL_PRIMARIES_P3;
    EXPECT_EQ(JxlEncoderSetColorEncoding(encoder, &colour), JXL_ENC_SUCCESS);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    EXPECT_EQ(JxlEncoderSetFrameLossless(settings, JXL_TRUE), JXL_ENC_SUCCESS);
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const std::vector<uint8_t> pixels(4 * 3 * 3, 200);
    EXPECT_EQ(JxlEncoderAddImageFrame(settings, &format, pixels.data(), pixels.size()),
              JXL_ENC_SUCCESS);
    JxlEncoderCloseInput(encoder);
    QByteArray out(1 << 16, '\0');
    uint8_t* next = reinterpret_cast<uint8_t*>(out.data());
    size_t avail = size_t(out.size());
    EXPECT_EQ(JxlEncoderProcessOutput(encoder, &next, &avail), JXL_ENC_SUCCESS);
    out.chop(qsizetype(avail));
    JxlEncoderDestroy(encoder);
    return out;
}

int writeDirect(const QString& path, const Raster& raster, int code, int quality = -1,
                SaveResolution dpi = {}, const ImageMeta& meta = {}) {
    QFile(path).open(QIODevice::WriteOnly);  // the writer is given an existing empty file
    Progress progress;
    return makePixavantWriter()->write(path, raster, meta, SaveRequest{code, quality, dpi},
                                       progress);
}

class PixavantFormatTest : public testing::ImagingTest {};

TEST_F(PixavantFormatTest, EachLevelIsStrictlySmallerAndOtherFactorsAreClamped) {
    const Raster source = makePhotoLike(256, 256);
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
    EXPECT_EQ(testing::readBytes(path("zero.jxl")), testing::readBytes(path("level1.jxl")));
    EXPECT_EQ(testing::readBytes(path("far.jxl")), testing::readBytes(path("level9.jxl")));
}

TEST_F(PixavantFormatTest, ColourProfilesTravelWithLosslessFiles) {
    // A Display P3 file: the reader hands its profile on, the writer stores it.
    write("p3.jxl", displayP3Codestream());
    DecodedImage image;
    ASSERT_EQ(testing::decode(path("p3.jxl"), image), kSuccess);
    ASSERT_FALSE(image.meta.iccProfile.empty());
    const imaging::FileInfoRecord info = testing::infoOf(path("p3.jxl"));
    EXPECT_EQ(std::tuple(info.Format, info.Width, info.Height, info.BitsPerPixel),
              std::tuple(format::kPixavantLossless, 4, 3, 24));

    ASSERT_EQ(
        writeDirect(path("copy.jxl"), image.raster, format::kPixavantLossless, 0, {}, image.meta),
        kSuccess);
    DecodedImage copy;
    ASSERT_EQ(testing::decode(path("copy.jxl"), copy), kSuccess);
    EXPECT_EQ(copy.meta.iccProfile, image.meta.iccProfile);
    EXPECT_EQ(copy.raster.pixels, image.raster.pixels);

    // A gray output does not take an RGB profile.
    Raster gray = makeGrayPhoto(4, 3);
    ASSERT_EQ(writeDirect(path("gray.jxl"), gray, format::kPixavantLossless, 0, {}, image.meta),
              kSuccess);
    DecodedImage grayBack;
    ASSERT_EQ(testing::decode(path("gray.jxl"), grayBack), kSuccess);
    EXPECT_TRUE(grayBack.meta.iccProfile.empty());

    // A lossy file converts from the profile; the colours keep their meaning.
    ASSERT_EQ(writeDirect(path("lossy.jxl"), image.raster, format::kPixavant, -1, {}, image.meta),
              kSuccess);
    DecodedImage lossy;
    ASSERT_EQ(testing::decode(path("lossy.jxl"), lossy), kSuccess);
    EXPECT_FALSE(lossy.meta.iccProfile.empty());
    EXPECT_GT(psnrOf(lossy.raster, image.raster), 35);

    // A profile libjxl cannot use is dropped: the file is still written, as sRGB.
    ImageMeta junk;
    junk.iccProfile.assign(300, 0x5A);
    std::memcpy(junk.iccProfile.data() + 16, "RGB ", 4);
    for (const int code : {format::kPixavantLossless, format::kPixavant}) {
        ASSERT_EQ(writeDirect(path("junk.jxl"), image.raster, code, -1, {}, junk), kSuccess);
        DecodedImage back;
        ASSERT_EQ(testing::decode(path("junk.jxl"), back), kSuccess);
        EXPECT_TRUE(back.meta.iccProfile.empty());
    }
}

// The record as written: offset 0, "MM", three entries; the unit (2, inches) is the third one's
// value, at byte 47. Patched, the resolution follows the unit and damage is ignored.
TEST_F(PixavantFormatTest, ResolutionFollowsTheExifUnitAndDamageIsIgnored) {
    ASSERT_EQ(
        writeDirect(path("r.jxl"), makeTextLike(40, 30), format::kPixavant1Bit, 0, {300, 300}),
        kSuccess);
    const QByteArray written = testing::readBytes(path("r.jxl"));
    ASSERT_TRUE(written.startsWith(QByteArray("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12)));
    const qsizetype payload = written.indexOf("Exif") + 4;
    ASSERT_GT(payload, 4);
    ASSERT_EQ(written.mid(payload, 6), QByteArray("\0\0\0\0MM", 6));
    ASSERT_EQ(written.mid(payload + 46, 2), QByteArray("\0\x02", 2));
    const struct {
        const char* name;
        int offset;  // in the Exif box payload
        QByteArray bytes;
        int32_t dpi;
    } cases[] = {
        {"inches", 47, "\x02", 300},
        {"centimetres", 47, "\x03", 762},
        {"no absolute unit", 47, "\x01", 0},
        {"offset beyond the box", 0, "\x7F\xFF\xFF\xFF", 0},
        {"not TIFF", 4, "XX", 0},
        {"entry count beyond the data", 12, "\xFF\xFF", 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = written;
        write("p.jxl", bytes.replace(payload + c.offset, c.bytes.size(), c.bytes));
        const imaging::FileInfoRecord info = testing::infoOf(path("p.jxl"));
        EXPECT_EQ(info.XResolution, c.dpi);
        EXPECT_EQ(info.YResolution, c.dpi);
        DecodedImage image;
        ASSERT_EQ(testing::decode(path("p.jxl"), image), kSuccess);
        EXPECT_DOUBLE_EQ(image.meta.xDpi, c.dpi);
    }
}

// libjxl's own decoder reads every code as written, 16-bit samples too.
TEST_F(PixavantFormatTest, LibjxlsOwnDecoderReadsEveryCode) {
    const QString djxl = QStandardPaths::findExecutable(QStringLiteral("djxl"));
    if (djxl.isEmpty())
        GTEST_SKIP() << "djxl (libjxl-tools) is not installed";
    struct Case {
        int code;
        Raster raster;
    };
    Raster five = makePhotoLike(50, 40);
    for (uint8_t& v : five.pixels)
        v = uint8_t(std::lrint(std::lrint(v * 31 / 255.0) * 255 / 31.0));
    five.significantBits = 5;
    // 16-bit samples whose low bytes carry information (none is a multiple of 257).
    Raster deep = testing::makeRaster(50, 40, PixelFormat::Rgb16);
    for (size_t i = 0; i < deep.pixels.size() / 2; ++i)
        reinterpret_cast<uint16_t*>(deep.pixels.data())[i] = uint16_t((i * 1031 + 3) % 65521);
    const Case cases[] = {{format::kPixavant, makePhotoLike(50, 40)},
                          {format::kPixavantLossless, makeGrayPhoto(50, 40)},
                          {format::kPixavantLossless, five},
                          {format::kPixavantLossless, deep},
                          {format::kPixavant1Bit, makeTextLike(50, 40)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const QString in = path("d.jxl"), out = path("d.png");
        ASSERT_EQ(writeDirect(in, c.raster, c.code, -2, {300, 300}), kSuccess);
        QFile::remove(out);
        QProcess process;
        const bool sixteen = c.raster.isDeep();
        process.start(djxl, {in, out, sixteen ? "--bits_per_sample=16" : "--bits_per_sample=8"});
        ASSERT_TRUE(process.waitForFinished(30000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        DecodedImage png;  // libpng's decoding of what djxl wrote
        ASSERT_EQ(sixteen ? testing::decodeDeep(out, png) : testing::decode(out, png), kSuccess);
        const Raster& decoded = png.raster;
        ASSERT_EQ(decoded.width, 50);
        ASSERT_EQ(decoded.height, 40);
        if (c.code == format::kPixavant) {
            // The same pixels as our own decoder gives, give or take rounding.
            DecodedImage ours;
            ASSERT_EQ(testing::decode(in, ours), kSuccess);
            EXPECT_GT(psnrOf(decoded, ours.raster), 45);
            EXPECT_GT(psnrOf(decoded, c.raster), 30);
        } else {
            EXPECT_EQ(decoded.pixels, c.raster.pixels);
        }
    }
}

}  // namespace
}  // namespace pixavant::imaging
