// How PIXAVANT files state their colours, carry a JPEG over, and stop when cancelled.
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <lcms2.h>

#include <QFileInfo>
#include <cmath>
#include <functional>

#include "ImagingFixtures.h"
#include "Testdata.h"
#include "imaging/JxlRunner.h"
#include "imaging/PixavantEncoding.h"

namespace pixavant::imaging {
namespace {

using testing::JpegFixture;

using testing::lcmsProfile;

constexpr double kSrgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
// sRGB as a compact profile of another make states it: its own rounding of curve and white.
std::vector<uint8_t> compactSrgb() {
    return lcmsProfile(kSrgb, 4, {2.39999, 0.94786, 0.05214, 0.07739, 0.04045}, 0.31271, 0.32902);
}

std::vector<uint8_t> readBytes(const QString& path) {
    return testing::toVector(testing::readBytes(path));
}

// What libjxl's own decoder finds in a file: how its colours are stated (named, or the original
// ICC profile) and the JPEG it reconstructs, if any.
struct JxlFacts {
    uint32_t orientation = 0;
    bool named = false;
    JxlColorEncoding encoding{};
    std::vector<uint8_t> icc;
    std::vector<uint8_t> jpeg;
};

JxlFacts inspect(const QString& path) {
    JxlFacts facts;
    const std::vector<uint8_t> bytes = readBytes(path);
    JxlDecoder* d = JxlDecoderCreate(nullptr);
    JxlDecoderSetKeepOrientation(d, JXL_TRUE);  // reported, not applied
    JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                     JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(d, bytes.data(), bytes.size());
    JxlDecoderCloseInput(d);
    std::vector<uint8_t> jpeg(bytes.size() * 4 + 65536), pixels;
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (JxlDecoderStatus s = JxlDecoderProcessInput(d); s != JXL_DEC_FULL_IMAGE;
         s = JxlDecoderProcessInput(d)) {
        const auto original = JXL_COLOR_PROFILE_TARGET_ORIGINAL;
        size_t size = 0;
        if (s == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info{};
            JxlDecoderGetBasicInfo(d, &info);
            facts.orientation = info.orientation;
        } else if (s == JXL_DEC_COLOR_ENCODING) {
            facts.named = JxlDecoderGetColorAsEncodedProfile(d, nullptr, original,
                                                             &facts.encoding) == JXL_DEC_SUCCESS;
            JxlDecoderGetICCProfileSize(d, nullptr, original, &size);
            facts.icc.resize(size);
            JxlDecoderGetColorAsICCProfile(d, nullptr, original, facts.icc.data(), size);
        } else if (s == JXL_DEC_JPEG_RECONSTRUCTION) {
            JxlDecoderSetJPEGBuffer(d, jpeg.data(), jpeg.size());
            facts.jpeg = {0};
        } else if (s == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            JxlDecoderImageOutBufferSize(d, &format, &size);
            pixels.resize(size);
            JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size);
        } else {
            ADD_FAILURE() << "decoder status " << s;
            break;
        }
    }
    if (!facts.jpeg.empty())
        facts.jpeg.assign(jpeg.begin(), jpeg.end() - ptrdiff_t(JxlDecoderReleaseJPEGBuffer(d)));
    JxlDecoderDestroy(d);
    return facts;
}

class PixavantEncodingTest : public testing::ImagingTest {
  protected:
    QString writeJpeg(const Raster& image, const JpegFixture& fixture) {
        return write("in.jpg", testing::makeJpeg(image, fixture));
    }
};

// A profile libjxl can name is stated by name (sRGB, Display P3, gray sRGB); any other is
// kept byte for byte (Adobe RGB; sRGB's primaries with gamma 1.8).
TEST_F(PixavantEncodingTest, LossyFilesNameTheirColourSpaceAndKeepOtherProfilesExactly) {
    const Raster photo = testing::makePhotoLike(256, 192);
    const Raster grayPhoto = testing::makeGrayPhoto(256, 192);
    const double p3[6] = {0.680, 0.320, 0.265, 0.690, 0.150, 0.060};
    const double adobe[6] = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06};
    const std::vector<double> srgbCurve = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    const struct {
        std::vector<uint8_t> icc;
        bool gray, named;
        JxlPrimaries primaries;
        JxlTransferFunction transfer;
    } cases[] = {
        {compactSrgb(), false, true, JXL_PRIMARIES_SRGB, JXL_TRANSFER_FUNCTION_SRGB},
        {lcmsProfile(p3, 4, srgbCurve), false, true, JXL_PRIMARIES_P3, JXL_TRANSFER_FUNCTION_SRGB},
        {lcmsProfile(nullptr, 4, srgbCurve), true, true, {}, JXL_TRANSFER_FUNCTION_SRGB},
        {lcmsProfile(adobe, 1, {563.0 / 256}), false, false, {}, {}},
        {lcmsProfile(kSrgb, 1, {1.8}), false, false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ImagingControl control;
        const QString source = writeJpeg(c.gray ? grayPhoto : photo, {.icc = c.icc});
        ASSERT_EQ(control.load(source, 0), kSuccess);
        const std::vector<uint8_t> decoded = control.displayRaster().pixels;
        ASSERT_EQ(control.save(path("out.jxl"), {format::kPixavant, 24, -1, {72, 72}}), kSuccess);

        const JxlFacts facts = inspect(path("out.jxl"));
        EXPECT_EQ(facts.named, c.named);
        if (!c.named) {
            EXPECT_EQ(facts.icc, c.icc);  // the profile itself, byte for byte
            continue;
        }
        EXPECT_TRUE(c.gray || facts.encoding.primaries == c.primaries);
        EXPECT_EQ(facts.encoding.transfer_function, c.transfer);
        if (c.primaries != JXL_PRIMARIES_SRGB || c.gray)
            continue;
        // Read back as sRGB, the colours are the source's: no shift, little loss.
        ImagingControl back;
        ASSERT_EQ(back.load(path("out.jxl"), 24), kSuccess);
        EXPECT_TRUE(back.meta().iccProfile.empty());
        const std::vector<uint8_t>& got = back.displayRaster().pixels;
        ASSERT_EQ(got.size(), decoded.size());
        double shift[3] = {}, squares = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const double d = double(got[i]) - double(decoded[i]);
            shift[i % 3] += d / double(got.size() / 3);
            squares += d * d / double(got.size());
        }
        for (double s : shift)
            EXPECT_LT(std::fabs(s), 0.5);
        EXPECT_GT(10 * std::log10(255.0 * 255.0 / squares), 38);
    }
}

// How many bytes two files of one size differ in; -1 when their sizes differ.
int differingBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size())
        return -1;
    int count = 0;
    for (size_t i = 0; i < a.size(); ++i)
        count += a[i] != b[i];
    return count;
}

TEST_F(PixavantEncodingTest, UnchangedJpegIsCarriedOverWithTheResolutionAskedAndNothingElseIs) {
    const Raster photo = testing::makePhotoLike(320, 240);
    const Raster grayPhoto = testing::makeGrayPhoto(320, 240);
    const JpegFixture jfif72{.densityUnit = 1, .xDensity = 72, .yDensity = 72};
    JpegFixture exif = jfif72;
    exif.progressive = true;
    exif.exif = true;
    exif.exifFields = {1, 72, 72, 2};
    exif.icc = compactSrgb();
    JpegFixture turned = exif;
    turned.exifFields.orientation = 6;
    JpegFixture exif300 = exif;
    exif300.jfif = false;
    exif300.exifFields.xResolution = exif300.exifFields.yResolution = 300;
    JpegFixture bothStates300 = exif300;  // JFIF and EXIF, in centimetres
    bothStates300.jfif = true;
    bothStates300.densityUnit = 2;
    bothStates300.xDensity = bothStates300.yDensity = 118;
    bothStates300.exifFields = {8, 118.11, 118.11, 3};
    JpegFixture noExifResolution = exif;
    noExifResolution.exifFields = {6, 0, 0, 0};
    const JpegFixture aspectOnly{};  // JFIF density 1:1, no unit
    JpegFixture grayExif = exif;
    grayExif.icc.clear();
    const auto none = [](ImagingControl&) { return int16_t(0); };
    struct Case {
        const char* name;
        JpegFixture fixture;
        bool gray;
        std::function<int16_t(ImagingControl&)> change;  // after the load
        int16_t code, depth, dpi;
        bool carried;
        int rewritten;  // bytes of the rebuilt JPEG that differ from the source, at most
    };
    constexpr int16_t kLossless = format::kPixavantLossless;
    const Case cases[] = {
        {"baseline, 72 dpi", jfif72, false, none, kLossless, 24, 72, true, 0},
        {"progressive, EXIF, ICC", exif, false, none, kLossless, 0, 72, true, 0},
        {"turned by its orientation", turned, false, none, kLossless, 24, 72, true, 0},
        {"gray", jfif72, true, none, kLossless, 0, 72, true, 0},
        {"gray, 24 bits asked", jfif72, true, none, kLossless, 24, 72, true, 0},
        {"gray, 8 bits asked", grayExif, true, none, kLossless, 8, 72, true, 0},
        {"no resolution stated", aspectOnly, false, none, kLossless, 24, 72, true, 0},
        {"JFIF states another", jfif72, false, none, kLossless, 24, 150, true, 2},
        {"EXIF states another", exif300, false, none, kLossless, 24, 72, true, 16},
        {"its own 300 dpi", exif300, false, none, kLossless, 24, 300, true, 0},
        {"JFIF and EXIF in centimetres", bothStates300, false, none, kLossless, 24, 72, true,
         5 + 18},
        {"EXIF without a resolution", noExifResolution, false, none, kLossless, 24, 72, false, 0},
        {"lossy", jfif72, false, none, format::kPixavant, 24, 72, false, 0},
        {"a palette asked", jfif72, false, none, kLossless, 8, 72, false, 0},
        {"resized", jfif72, false, [](ImagingControl& c) { return c.resize(160, 120); }, kLossless,
         24, 72, false, 0},
        {"made gray", jfif72, false, [](ImagingControl& c) { return c.convertToGray(); }, kLossless,
         24, 72, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString source = writeJpeg(c.gray ? grayPhoto : photo, c.fixture);
        ImagingControl control;
        control.setVerifySaves(true);
        ASSERT_EQ(control.load(source, c.depth), kSuccess);
        ASSERT_EQ(c.change(control), kSuccess);
        ASSERT_EQ(control.save(path("out.jxl"), {c.code, c.depth, -1, {c.dpi, c.dpi}}), kSuccess);
        EXPECT_EQ(control.lastVerification().method == VerifyMethod::JpegReconstruction, c.carried);
        EXPECT_TRUE(control.lastVerification().passed);

        const JxlFacts facts = inspect(path("out.jxl"));
        EXPECT_EQ(!facts.jpeg.empty(), c.carried);
        if (!c.carried)
            continue;
        const int changed = differingBytes(facts.jpeg, readBytes(source));
        EXPECT_GE(changed, 0);
        EXPECT_LE(changed, c.rewritten);
        EXPECT_EQ(changed > 0, c.rewritten > 0);
        // The rebuilt JPEG and the PIXAVANT file both state the resolution asked.
        FileInfoRecord info, rebuilt;
        const QString rebuiltPath = write("rebuilt.jpg", testing::toBytes(facts.jpeg));
        ASSERT_EQ(readFileInfo(rebuiltPath, rebuilt), imaging::kSuccess);
        ASSERT_EQ(readFileInfo(path("out.jxl"), info), imaging::kSuccess);
        EXPECT_EQ(std::tuple(info.Format, info.XResolution, info.YResolution),
                  std::tuple(format::kPixavantLossless, int32_t(c.dpi), int32_t(c.dpi)));
        if (c.fixture.densityUnit != 0 || c.fixture.exif) {
            EXPECT_EQ(std::tuple(rebuilt.XResolution, rebuilt.YResolution),
                      std::tuple(int32_t(c.dpi), int32_t(c.dpi)));
        }
        // Shown as the JPEG is: its orientation stated in the header, the pixels libjxl decodes
        // (which rounds a little differently from libjpeg) upright.
        EXPECT_EQ(facts.orientation, uint32_t(std::max(c.fixture.exifFields.orientation, 1)));
        ImagingControl decoded, back, fromRebuilt;
        ASSERT_EQ(decoded.load(source, 0), kSuccess);
        ASSERT_EQ(back.load(path("out.jxl"), 0), kSuccess);
        // Its EXIF, which libjxl compresses, reads as the rebuilt JPEG's.
        ASSERT_EQ(fromRebuilt.load(rebuiltPath, 0), kSuccess);
        if (c.fixture.exif) {
            EXPECT_EQ(back.meta().embedded.exif, fromRebuilt.meta().embedded.exif);
        }
        const Raster& want = decoded.displayRaster();
        const Raster& got = back.displayRaster();
        ASSERT_EQ(std::tuple(got.width, got.height, got.format),
                  std::tuple(want.width, want.height, want.format));
        double total = 0;
        for (size_t i = 0; i < got.pixels.size(); ++i) {
            EXPECT_LE(std::abs(int(got.pixels[i]) - int(want.pixels[i])), 16) << " at " << i;
            total += std::abs(int(got.pixels[i]) - int(want.pixels[i]));
        }
        EXPECT_LT(total / double(got.pixels.size()), 1.0);
    }
}

// Camera files: a 300-dpi Nikon, turned ones, gray and centimetre ones, at their own resolution
// (rebuilt byte for byte) and at 72 dpi (only the resolution rewritten); CMYK is encoded from its
// pixels.
TEST_F(PixavantEncodingTest, CameraJpegsAreCarriedOverAtTheirOwnResolutionAndAt72Dpi) {
    const QString root = testing::testdataDir();
    if (root.isEmpty())
        GTEST_SKIP() << "../shared/testdata is not there";
    const struct {
        const char* file;
        bool carried;
    } cases[] = {
        {"exif/DSCN0010.jpg", true},
        {"exif/landscape_6.jpg", true},
        {"exif/landscape_5.jpg", true},
        {"exif/Pentax_K10D.jpg", true},
        {"exif/Panasonic_DMC-FZ30.jpg", true},
        {"exif/iptc.jpg", true},
        {"formats/hopper_gray.jpg", true},
        {"formats/exif-200dpcm.jpg", true},
        {"formats/pil_sample_cmyk.jpg", false},
    };
    for (const auto& c : cases) {
        const QString source = root + QLatin1Char('/') + QLatin1String(c.file);
        const imaging::FileInfoRecord info = testing::infoOf(source);
        const int32_t own = info.XResolution > 0 ? info.XResolution : 72;
        for (const int32_t dpi : {own, 72}) {
            SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(dpi) + " dpi");
            ImagingControl control;
            control.setVerifySaves(true);
            ASSERT_EQ(control.load(source, 24), kSuccess);
            ASSERT_EQ(
                control.save(path("out.jxl"), {format::kPixavantLossless, 24, -1, {dpi, dpi}}),
                kSuccess);
            EXPECT_EQ(control.lastVerification().method == VerifyMethod::JpegReconstruction,
                      c.carried);
            const JxlFacts facts = inspect(path("out.jxl"));
            ASSERT_EQ(!facts.jpeg.empty(), c.carried);
            if (!c.carried)
                continue;
            const int changed = differingBytes(facts.jpeg, readBytes(source));
            EXPECT_EQ(changed == 0, dpi == own) << changed;
            EXPECT_LE(changed, 5 + 18);
            EXPECT_LT(QFileInfo(path("out.jxl")).size(), QFileInfo(source).size());
            const imaging::FileInfoRecord written = testing::infoOf(path("out.jxl"));
            EXPECT_EQ(std::tuple(written.Width, written.Height, written.XResolution),
                      std::tuple(info.Width, info.Height, dpi));
        }
    }
}

// The effort asked for reaches libjxl and changes the file, never a lossless file's pixels; none,
// or one out of range, is the format's own. Through the control too, and a JPEG carried over at
// any effort still gives its source back.
TEST_F(PixavantEncodingTest, TheEffortAskedForIsTheOneUsed) {
    const Raster photo = testing::makePhotoLike(192, 128);
    const Raster text = testing::makeTextLike(256, 192);
    auto written = [&](const Raster& raster, int code, int effort) {
        const QString file = path(QStringLiteral("%1-%2.jxl").arg(code).arg(effort));
        QFile(file).open(QIODevice::WriteOnly);
        SaveRequest request{code, -1, {72, 72}};
        request.effort = effort;
        Progress progress;
        EXPECT_EQ(makePixavantWriter()->write(file, raster, {}, request, progress), kSuccess);
        return testing::readBytes(file);
    };
    for (const int code : {format::kPixavant, format::kPixavantLossless, format::kPixavant1Bit}) {
        SCOPED_TRACE(code);
        const Raster& source = code == format::kPixavant1Bit ? text : photo;
        const QByteArray own = written(source, code, defaultEffort(code));
        for (const int effort : {0, -1, 10})
            EXPECT_EQ(written(source, code, effort), own) << "effort " << effort;
        EXPECT_NE(written(source, code, 1), own);
        if (code == format::kPixavantLossless) {
            DecodedImage back;
            ASSERT_EQ(testing::decode(path(QStringLiteral("%1-1.jxl").arg(code)), back), kSuccess);
            EXPECT_EQ(back.raster.pixels, source.pixels);
        }
    }

    const QString jpeg = writeJpeg(photo, {.densityUnit = 1, .xDensity = 72, .yDensity = 72});
    auto saved = [&](int code, int effort) {
        ImagingControl control;
        EXPECT_EQ(control.load(jpeg, 24), kSuccess);
        control.setEncoderEffort(effort);
        EXPECT_EQ(control.save(path("saved.jxl"), {int16_t(code), 24, -1, {72, 72}}), kSuccess);
        return testing::readBytes(path("saved.jxl"));
    };
    EXPECT_NE(saved(format::kPixavant, 1), saved(format::kPixavant, 0));
    for (const int effort : {1, 9}) {
        saved(format::kPixavantLossless, effort);
        EXPECT_EQ(inspect(path("saved.jxl")).jpeg, readBytes(jpeg)) << "effort " << effort;
    }
}

// libjxl aborts the process when some of its later parallel runs fail: the runner refuses work
// only while the pixels are taken in, and then the encode fails cleanly.
TEST(JxlRunnerTest, RefusesOnlyWhileThePixelsAreTakenIn) {
    const Raster photo = testing::makePhotoLike(512, 384);
    for (const bool duringIntake : {true, false}) {
        JxlRunner runner;
        JxlEncoder* encoder = JxlEncoderCreate(nullptr);
        JxlEncoderSetParallelRunner(encoder, JxlRunner::run, runner.opaque());
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = uint32_t(photo.width);
        info.ysize = uint32_t(photo.height);
        JxlEncoderSetBasicInfo(encoder, &info);
        JxlColorEncoding srgb{};
        JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
        JxlEncoderSetColorEncoding(encoder, &srgb);
        const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
        runner.markIntake(true);
        if (duringIntake)
            runner.refuse();
        const JxlEncoderStatus added =
            JxlEncoderAddImageFrame(JxlEncoderFrameSettingsCreate(encoder, nullptr), &format,
                                    photo.pixels.data(), photo.pixels.size());
        runner.markIntake(false);
        EXPECT_EQ(added == JXL_ENC_SUCCESS, !duringIntake);
        if (!duringIntake) {
            runner.refuse();  // too late: the encode runs to the end all the same
            JxlEncoderCloseInput(encoder);
            std::vector<uint8_t> out(1 << 20);
            uint8_t* next = out.data();
            size_t avail = out.size();
            EXPECT_EQ(JxlEncoderProcessOutput(encoder, &next, &avail), JXL_ENC_SUCCESS);
        }
        JxlEncoderDestroy(encoder);
    }
}

// A save stopped at any report leaves neither the output nor a temporary file; a load stops too.
TEST_F(PixavantEncodingTest, CancelAtAnyMomentLeavesNoFile) {
    const QString source = writeJpeg(testing::makePhotoLike(1024, 768), JpegFixture{});
    const QString out = path("out.jxl");
    for (const int code : {format::kPixavant, format::kPixavantLossless, format::kPixavant1Bit}) {
        for (const int stopAt : {1, 3, 8}) {
            SCOPED_TRACE(::testing::Message() << code << " stopped at report " << stopAt);
            ImagingControl control;
            ASSERT_EQ(control.load(source, 24), kSuccess);
            int calls = 0;
            std::atomic<bool> stop{false};
            control.setCancelFlag(&stop);
            control.setEnableProgressEvent(true);
            control.onProgressStatus([&](int16_t) {
                if (++calls == stopAt)
                    stop = true;
            });
            const int16_t status = control.save(out, {int16_t(code), 24, -1});
            EXPECT_EQ(status, calls >= stopAt ? kErrCancelled : kSuccess);
            // in.jpg, and out.jxl only when complete
            EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Hidden | QDir::Files).size(),
                      status == kSuccess ? 2 : 1);
            QFile::remove(out);
        }
    }
    ImagingControl control;
    ASSERT_EQ(control.load(source, 24), kSuccess);
    ASSERT_EQ(control.save(out, {format::kPixavantLossless, 24, 0}), kSuccess);
    std::atomic<bool> stop{false};
    control.setCancelFlag(&stop);
    control.setEnableProgressEvent(true);
    control.onProgressStatus([&](int16_t) { stop = true; });
    EXPECT_EQ(control.load(out, 0), kErrCancelled);
}

}  // namespace
}  // namespace pixavant::imaging
