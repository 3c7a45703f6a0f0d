// How PIXAVANT files state their colours, carry a JPEG over, and stop when cancelled.
#include <gtest/gtest.h>
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <lcms2.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <functional>

#include "JpegFixtures.h"
#include "imaging/ColorProfile.h"
#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/JxlRunner.h"

namespace pixavant::imaging {
namespace {

using testing::JpegFixture;

// ---- profiles made with lcms ----------------------------------------------------------------

std::vector<uint8_t> saveProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// An RGB profile of the given white, primaries (x, y pairs) and curve (an lcms parametric type
// with its parameters).
std::vector<uint8_t> rgbProfile(const double white[2], const double primaries[6], int curveType,
                                std::vector<double> curve) {
    cmsToneCurve* tone = cmsBuildParametricToneCurve(nullptr, curveType, curve.data());
    const cmsCIExyY w{white[0], white[1], 1};
    const cmsCIExyYTRIPLE p{{primaries[0], primaries[1], 1},
                            {primaries[2], primaries[3], 1},
                            {primaries[4], primaries[5], 1}};
    cmsToneCurve* curves[3] = {tone, tone, tone};
    std::vector<uint8_t> bytes = saveProfile(cmsCreateRGBProfile(&w, &p, curves));
    cmsFreeToneCurve(tone);
    return bytes;
}

std::vector<uint8_t> grayProfile(int curveType, std::vector<double> curve) {
    cmsToneCurve* tone = cmsBuildParametricToneCurve(nullptr, curveType, curve.data());
    const cmsCIExyY d65{0.3127, 0.3290, 1};
    std::vector<uint8_t> bytes = saveProfile(cmsCreateGrayProfile(&d65, tone));
    cmsFreeToneCurve(tone);
    return bytes;
}

constexpr double kD65[2] = {0.3127, 0.3290};
constexpr double kSrgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
// As a compact profile of another make states sRGB: its own rounding of white and primaries.
constexpr double kD65Rounded[2] = {0.31271, 0.32902};
constexpr double kSrgbRounded[6] = {0.6400, 0.3300, 0.3000, 0.6000, 0.1500, 0.0600};
constexpr double kP3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
constexpr double kAdobe[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
const std::vector<double> kSrgbCurve = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};

std::vector<uint8_t> srgbProfile() {
    return saveProfile(cmsCreate_sRGBProfile());
}
std::vector<uint8_t> compactSrgbProfile() {
    return rgbProfile(kD65Rounded, kSrgbRounded, 4, {2.39999, 0.94786, 0.05214, 0.07739, 0.04045});
}
std::vector<uint8_t> adobeProfile() {
    return rgbProfile(kD65, kAdobe, 1, {563.0 / 256});
}

TEST(ColourProfile, SpacesLibjxlNamesAreRecognisedAndOthersAreNot) {
    struct Case {
        const char* name;
        std::vector<uint8_t> icc;
        int channels;
        bool named;
        JxlPrimaries primaries;
        JxlTransferFunction transfer;
    };
    std::vector<uint8_t> junk(600, 0x5A);
    std::memcpy(junk.data() + 16, "RGB ", 4);
    const Case cases[] = {
        {"lcms sRGB", srgbProfile(), 3, true, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_SRGB},
        {"compact sRGB", compactSrgbProfile(), 3, true, JXL_PRIMARIES_SRGB,
         JXL_TRANSFER_FUNCTION_SRGB},
        {"Display P3", rgbProfile(kD65, kP3, 4, kSrgbCurve), 3, true, JXL_PRIMARIES_P3,
         JXL_TRANSFER_FUNCTION_SRGB},
        {"linear sRGB", rgbProfile(kD65, kSrgb, 1, {1.0}), 3, true, JXL_PRIMARIES_SRGB,
         JXL_TRANSFER_FUNCTION_LINEAR},
        {"gray sRGB", grayProfile(4, kSrgbCurve), 1, true, {}, JXL_TRANSFER_FUNCTION_SRGB},
        {"gray gamma 2.2", grayProfile(1, {2.2}), 1, true, {}, JXL_TRANSFER_FUNCTION_GAMMA},
        {"Adobe RGB", adobeProfile(), 3, false, {}, {}},
        {"sRGB primaries, gamma 1.8", rgbProfile(kD65, kSrgb, 1, {1.8}), 3, false, {}, {}},
        {"sRGB asked for gray", srgbProfile(), 1, false, {}, {}},
        {"gray asked for colour", grayProfile(4, kSrgbCurve), 3, false, {}, {}},
        {"damaged", junk, 3, false, {}, {}},
        {"empty", {}, 3, false, {}, {}},
    };
    for (const Case& c : cases) {
        const std::optional<JxlColorEncoding> named = namedColorEncoding(c.icc, c.channels);
        ASSERT_EQ(named.has_value(), c.named) << c.name;
        if (!named)
            continue;
        if (c.channels == 3) {
            EXPECT_EQ(named->primaries, c.primaries) << c.name;
        }
        EXPECT_EQ(named->transfer_function, c.transfer) << c.name;
        EXPECT_LE(colorEncodingDistance(c.icc, c.channels, *named), 1.0) << c.name;
    }
}

// ---- files ------------------------------------------------------------------------------------

std::vector<uint8_t> readBytes(const QString& path) {
    QFile file(path);
    const QByteArray data = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return {data.begin(), data.end()};
}

// What libjxl's own decoder finds in a file: how its colours are stated, and the JPEG it
// reconstructs, if any.
struct JxlFacts {
    bool ok = false;
    bool namedColours = false;
    JxlColorEncoding encoding{};
    std::vector<uint8_t> icc;   // the original profile, as stored or as libjxl makes it
    std::vector<uint8_t> jpeg;  // empty: none
};

JxlFacts inspect(const QString& path) {
    JxlFacts facts;
    const std::vector<uint8_t> bytes = readBytes(path);
    JxlDecoder* d = JxlDecoderCreate(nullptr);
    JxlDecoderSubscribeEvents(
        d, JXL_DEC_COLOR_ENCODING | JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(d, bytes.data(), bytes.size());
    JxlDecoderCloseInput(d);
    std::vector<uint8_t> jpeg(bytes.size() * 4 + 65536);
    bool reconstructing = false;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_COLOR_ENCODING) {
            facts.namedColours =
                JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                                   &facts.encoding) == JXL_DEC_SUCCESS;
            size_t size = 0;
            JxlDecoderGetICCProfileSize(d, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &size);
            facts.icc.resize(size);
            JxlDecoderGetColorAsICCProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           facts.icc.data(), size);
        } else if (status == JXL_DEC_JPEG_RECONSTRUCTION) {
            reconstructing = true;
            JxlDecoderSetJPEGBuffer(d, jpeg.data(), jpeg.size());
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            JxlBasicInfo info;
            JxlDecoderGetBasicInfo(d, &info);
            static std::vector<uint8_t> pixels;
            const JxlPixelFormat format{info.num_color_channels, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                        0};
            size_t size = 0;
            JxlDecoderImageOutBufferSize(d, &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size);
        } else if (status == JXL_DEC_FULL_IMAGE) {
            if (reconstructing)
                jpeg.resize(jpeg.size() - JxlDecoderReleaseJPEGBuffer(d));
            facts.jpeg = reconstructing ? jpeg : std::vector<uint8_t>();
            facts.ok = true;
            break;
        } else {
            break;
        }
    }
    JxlDecoderDestroy(d);
    return facts;
}

class PixavantEncodingTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { setResolution(0); }
    QString path(const QString& name) const { return dir.filePath(name); }
    static void setResolution(int32_t dpi) {
        ExtFileOptionBlock block{};
        writeInt32(&block[0], dpi);
        writeInt32(&block[4], dpi);
        L_SetExtFileOption(block.data());
    }
    QString writeJpeg(const QString& name, const Raster& image, const JpegFixture& fixture) {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(testing::makeJpeg(image, fixture));
        return path(name);
    }
    QTemporaryDir dir;
};

TEST_F(PixavantEncodingTest, LossyFilesNameTheirColourSpaceAndKeepOtherProfilesExactly) {
    struct Case {
        const char* name;
        std::vector<uint8_t> icc;
        bool named;
    };
    const Raster photo = testing::makePhotoLike(256, 192);
    for (const Case& c : {Case{"compact sRGB", compactSrgbProfile(), true},
                          Case{"Adobe RGB", adobeProfile(), false}}) {
        const QString source = writeJpeg("in.jpg", photo, JpegFixture{.icc = c.icc});
        setResolution(72);
        ImagingControl control;
        ASSERT_EQ(control.load(source, 24, 0, 1), kSuccess) << c.name;
        const Raster decoded = control.displayRaster();
        ASSERT_EQ(control.save(path("out.jxl"), format::kPixavant, 24, -1, 0), kSuccess);

        const JxlFacts facts = inspect(path("out.jxl"));
        ASSERT_TRUE(facts.ok) << c.name;
        EXPECT_EQ(facts.namedColours, c.named) << c.name;
        if (c.named) {
            EXPECT_EQ(facts.encoding.primaries, JXL_PRIMARIES_SRGB);
            EXPECT_EQ(facts.encoding.transfer_function, JXL_TRANSFER_FUNCTION_SRGB);
            // Read back as sRGB, the colours are those of the source: no shift, little loss.
            ImagingControl back;
            ASSERT_EQ(back.load(path("out.jxl"), 24, 0, 1), kSuccess);
            EXPECT_TRUE(back.meta().iccProfile.empty());
            const std::vector<uint8_t>& got = back.displayRaster().pixels;
            ASSERT_EQ(got.size(), decoded.pixels.size());
            double shift[3] = {}, squares = 0;
            for (size_t i = 0; i < got.size(); ++i) {
                const double d = double(got[i]) - double(decoded.pixels[i]);
                shift[i % 3] += d;
                squares += d * d;
            }
            for (double s : shift)
                EXPECT_LT(std::fabs(s / double(got.size() / 3)), 0.5) << c.name;
            EXPECT_GT(10 * std::log10(255.0 * 255.0 / (squares / double(got.size()))), 38);
        } else {
            EXPECT_EQ(facts.icc, c.icc) << c.name;  // the profile itself, byte for byte
        }
    }
}

// ---- a JPEG carried over ------------------------------------------------------------------------

TEST_F(PixavantEncodingTest, UnchangedJpegIsCarriedOverBitForBitAndNothingElseIs) {
    const Raster photo = testing::makePhotoLike(320, 240);
    const Raster gray = testing::makePhotoLike(64, 48);
    struct Case {
        const char* name;
        JpegFixture fixture;
        std::function<int16_t(ImagingControl&)> change;  // after the load
        int16_t code;
        int16_t depth;
        int32_t dpi;
        bool carried;
    };
    JpegFixture jfif72{.densityUnit = 1, .xDensity = 72, .yDensity = 72};
    JpegFixture withExif = jfif72;
    withExif.progressive = true;
    withExif.exif = true;
    withExif.exifFields = {1, 72, 72, 2};
    withExif.icc = srgbProfile();
    JpegFixture turned = withExif;
    turned.exifFields.orientation = 6;
    JpegFixture exifOtherDpi = withExif;
    exifOtherDpi.exifFields.xResolution = exifOtherDpi.exifFields.yResolution = 300;
    const auto none = [](ImagingControl&) { return int16_t(0); };
    const Case cases[] = {
        {"baseline, 72 dpi", jfif72, none, format::kPixavantLossless, 24, 72, true},
        {"progressive, EXIF, ICC", withExif, none, format::kPixavantLossless, 24, 72, true},
        {"native depth", jfif72, none, format::kPixavantLossless, 0, 72, true},
        {"no density, 72 dpi asked", JpegFixture{}, none, format::kPixavantLossless, 24, 72, true},
        {"lossy", jfif72, none, format::kPixavant, 24, 72, false},
        {"8-bit colour", jfif72, none, format::kPixavantLossless, 8, 72, false},
        {"another resolution", jfif72, none, format::kPixavantLossless, 24, 150, false},
        {"EXIF states another", exifOtherDpi, none, format::kPixavantLossless, 24, 72, false},
        {"turned by its orientation", turned, none, format::kPixavantLossless, 24, 72, false},
        {"resized", jfif72, [](ImagingControl& c) { return c.resize(160, 120, 1); },
         format::kPixavantLossless, 24, 72, false},
        {"made gray", jfif72, [](ImagingControl& c) { return c.convertToGray(); },
         format::kPixavantLossless, 24, 72, false},
    };
    for (const Case& c : cases) {
        const QString source = writeJpeg("in.jpg", photo, c.fixture);
        setResolution(c.dpi);
        ImagingControl control;
        ASSERT_EQ(control.load(source, c.depth, 0, 1), kSuccess) << c.name;
        ASSERT_EQ(c.change(control), kSuccess) << c.name;
        const Raster pixels = control.displayRaster();
        ASSERT_EQ(control.save(path("out.jxl"), c.code, c.depth, -1, 0), kSuccess) << c.name;

        const JxlFacts facts = inspect(path("out.jxl"));
        ASSERT_TRUE(facts.ok) << c.name;
        EXPECT_EQ(!facts.jpeg.empty(), c.carried) << c.name;
        if (!c.carried)
            continue;
        EXPECT_EQ(facts.jpeg, readBytes(source)) << c.name;
        // The file reads as a PIXAVANT lossless one of the stated resolution. Its pixels are
        // the JPEG's as libjxl decodes it, which rounds a little differently from libjpeg.
        FileInfoRecord info;
        ASSERT_EQ(readFileInfo(path("out.jxl"), info), 1);
        EXPECT_EQ(info.Format, format::kPixavantLossless) << c.name;
        EXPECT_EQ(info.XResolution, c.dpi) << c.name;
        ImagingControl back;
        ASSERT_EQ(back.load(path("out.jxl"), 0, 0, 1), kSuccess);
        const std::vector<uint8_t>& got = back.displayRaster().pixels;
        ASSERT_EQ(got.size(), pixels.pixels.size());
        int worst = 0;
        double total = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const int d = std::abs(int(got[i]) - int(pixels.pixels[i]));
            worst = std::max(worst, d);
            total += d;
        }
        EXPECT_LE(worst, 16) << c.name;
        EXPECT_LT(total / double(got.size()), 1.0) << c.name;
    }
    // A gray JPEG is written as colour at 24 bits: not carried over.
    const QString source = writeJpeg(
        "gray.jpg",
        [&] {
            Raster g = gray;
            g.format = PixelFormat::Gray8;
            g.pixels.resize(size_t(g.width * g.height));
            return g;
        }(),
        jfif72);
    setResolution(72);
    ImagingControl control;
    ASSERT_EQ(control.load(source, 24, 0, 1), kSuccess);
    ASSERT_EQ(control.save(path("gray.jxl"), format::kPixavantLossless, 24, -1, 0), kSuccess);
    EXPECT_TRUE(inspect(path("gray.jxl")).jpeg.empty());
}

TEST_F(PixavantEncodingTest, RealPhotoIsCarriedOverSmallerAndBitForBit) {
    // ../shared/testdata beside the project, found from wherever the tests run below it.
    QString photos;
    for (QDir d = QDir::current(); photos.isEmpty();) {
        if (QFileInfo(d.filePath("shared/testdata/photos")).isDir())
            photos = d.filePath("shared/testdata/photos");
        else if (!d.cdUp())
            break;
    }
    const QStringList names = QDir(photos).entryList({"*.jpg"}, QDir::Files, QDir::Size);
    if (names.isEmpty())
        GTEST_SKIP() << "no shared test photos at " << photos.toStdString();
    const QString source = QDir(photos).filePath(names.last());  // the smallest
    setResolution(72);
    ImagingControl control;
    ASSERT_EQ(control.load(source, 24, 0, 1), kSuccess);
    ASSERT_EQ(control.save(path("photo.jxl"), format::kPixavantLossless, 24, -1, 0), kSuccess);
    const JxlFacts facts = inspect(path("photo.jxl"));
    EXPECT_EQ(facts.jpeg, readBytes(source));
    EXPECT_LT(QFileInfo(path("photo.jxl")).size(), QFileInfo(source).size() * 9 / 10);
}

// ---- cancelling an encode --------------------------------------------------------------------

// libjxl aborts the process when some of its later parallel runs fail: the runner refuses work
// only while the pixels are taken in, and then the encode fails cleanly.
TEST(JxlRunnerTest, RefusesOnlyWhileThePixelsAreTakenIn) {
    const Raster photo = testing::makePhotoLike(512, 384);
    for (const bool refuseDuringIntake : {true, false}) {
        JxlRunner runner;
        JxlEncoder* encoder = JxlEncoderCreate(nullptr);
        ASSERT_EQ(JxlEncoderSetParallelRunner(encoder, JxlRunner::run, runner.opaque()),
                  JXL_ENC_SUCCESS);
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = uint32_t(photo.width);
        info.ysize = uint32_t(photo.height);
        info.bits_per_sample = 8;
        info.num_color_channels = 3;
        ASSERT_EQ(JxlEncoderSetBasicInfo(encoder, &info), JXL_ENC_SUCCESS);
        JxlColorEncoding srgb{};
        JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
        ASSERT_EQ(JxlEncoderSetColorEncoding(encoder, &srgb), JXL_ENC_SUCCESS);
        JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
        const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        runner.markIntake(true);
        if (refuseDuringIntake)
            runner.refuse();
        const JxlEncoderStatus added =
            JxlEncoderAddImageFrame(settings, &format, photo.pixels.data(), photo.pixels.size());
        runner.markIntake(false);
        if (refuseDuringIntake) {
            EXPECT_NE(added, JXL_ENC_SUCCESS);
        } else {
            // Refused after the intake: the encode runs to the end all the same.
            ASSERT_EQ(added, JXL_ENC_SUCCESS);
            runner.refuse();
            JxlEncoderCloseInput(encoder);
            std::vector<uint8_t> out(1 << 20);
            uint8_t* next = out.data();
            size_t avail = out.size();
            EXPECT_EQ(JxlEncoderProcessOutput(encoder, &next, &avail), JXL_ENC_SUCCESS);
            EXPECT_GT(runner.tasksDone(), 0);
        }
        JxlEncoderDestroy(encoder);
    }
}

TEST_F(PixavantEncodingTest, CancelAtAnyMomentLeavesNoFile) {
    const Raster photo = testing::makePhotoLike(1024, 768);
    const QString source = writeJpeg("in.jpg", photo, JpegFixture{});
    for (const int code : {format::kPixavant, format::kPixavantLossless}) {
        for (const int stopAt : {1, 3, 8}) {
            ImagingControl control;
            ASSERT_EQ(control.load(source, 24, 0, 1), kSuccess);
            int calls = 0;
            control.setEnableProgressEvent(true);
            control.onProgressStatus([&](int16_t) {
                if (++calls == stopAt)
                    control.abortOperation();
            });
            const int16_t status = control.save(path("out.jxl"), int16_t(code), 24, -1, 0);
            EXPECT_EQ(status, calls >= stopAt ? kErrCancelled : kSuccess) << code << " " << stopAt;
            EXPECT_EQ(QFileInfo::exists(path("out.jxl")), status == kSuccess);
            EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).size(),
                      status == kSuccess ? 2 : 1);  // in.jpg, no temporary file
            QFile::remove(path("out.jxl"));
        }
    }
}

}  // namespace
}  // namespace pixavant::imaging
