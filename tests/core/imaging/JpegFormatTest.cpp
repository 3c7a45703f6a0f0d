
#include <QFileInfo>
#include <QSize>

#include "ImagingFixtures.h"

namespace pixavant::imaging {
namespace {

using testing::JpegFixture;
using testing::makeJpeg;
using testing::makePhotoLike;

class JpegFormatTest : public testing::ImagingTest {
  protected:
    QString writeJpeg(const QString& name, const Raster& image, const JpegFixture& fixture = {}) {
        return write(name, makeJpeg(image, fixture));
    }
};

JpegFixture marked(int h, int v, bool jfif, bool exif) {
    return {.hSamp = h, .vSamp = v, .jfif = jfif, .exif = exif};
}

TEST_F(JpegFormatTest, FormatCodeFollowsHeaderAndSampling) {
    const struct {
        JpegFixture fixture;
        bool gray;
        int code;
    } cases[] = {
        {marked(1, 1, true, false), false, format::kJpeg444},
        {marked(2, 2, true, false), false, format::kJpeg420},
        {marked(2, 1, true, false), false, format::kJpeg422},
        {marked(1, 1, true, false), true, format::kJpeg444},
        {marked(2, 2, false, true), false, format::kExifJpeg420},
        {marked(1, 1, false, true), false, format::kExifJpeg},
        {marked(2, 1, false, true), false, format::kExifJpeg},
        {marked(1, 1, false, true), true, format::kExifJpeg},
        {marked(2, 2, true, true), false, format::kJpeg420},  // JFIF and EXIF
        {marked(2, 2, false, false), false, format::kJpeg420},
        {marked(1, 1, false, false), false, format::kJpeg444},
    };
    for (const auto& c : cases) {
        const Raster image = c.gray ? testing::makeGrayPhoto(40, 24) : makePhotoLike(40, 24);
        const FileInfoRecord record = testing::infoOf(writeJpeg("f.jpg", image, c.fixture));
        EXPECT_EQ(std::tuple(record.Format, record.BitsPerPixel, record.Width, record.Height),
                  std::tuple(c.code, c.gray ? 8 : 24, 40, 24))
            << &c - cases;
    }
    const FileInfoRecord progressive =
        testing::infoOf(writeJpeg("p.jpg", makePhotoLike(40, 24), {.progressive = true}));
    EXPECT_EQ(progressive.Compression, "Progressive JPEG");
}

TEST_F(JpegFormatTest, ResolutionFromJfifDensityOrExif) {
    // JFIF density unit and value (unit 0: aspect ratio only), and EXIF resolution and unit.
    const auto file = [](bool jfif, int unit, int density, double exif, int exifUnit) {
        return JpegFixture{.jfif = jfif,
                           .densityUnit = unit,
                           .xDensity = density,
                           .yDensity = density,
                           .exif = exif >= 0,
                           .exifFields = {1, exif, exif, exifUnit}};
    };
    const struct {
        const char* name;
        JpegFixture fixture;
        int dpi;
    } cases[] = {
        {"dpi", file(true, 1, 300, -1, 0), 300},
        {"dots per cm", file(true, 2, 118, -1, 0), 300},  // 299.72 dpi
        {"aspect only", file(true, 0, 1, -1, 0), 0},
        {"aspect only, exif inches", file(true, 0, 1, 200, 2), 200},
        {"jfif density wins over exif", file(true, 1, 96, 200, 2), 96},
        {"exif centimetres", file(false, 0, 1, 72, 3), 183},
        {"exif without unit means inches", file(false, 0, 1, 240, 0), 240},
        {"exif without resolution", file(false, 0, 1, 0, 0), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString jpeg = writeJpeg("r.jpg", makePhotoLike(16, 16), c.fixture);
        const FileInfoRecord record = testing::infoOf(jpeg);
        EXPECT_EQ(record.XResolution, c.dpi);
        EXPECT_EQ(record.YResolution, c.dpi);
        ImagingControl control;
        ASSERT_EQ(control.load(jpeg, 0), kSuccess);
        EXPECT_EQ(std::lround(control.meta().xDpi), c.dpi);
    }
}

TEST_F(JpegFormatTest, EveryCoarserSliderPositionGivesASmallerFile) {
    ImagingControl control;
    ASSERT_EQ(control.load(writeJpeg("in.jpg", makePhotoLike(320, 240), {.quality = 100}), 0),
              kSuccess);
    std::vector<qint64> sizes;
    for (int qf = 2; qf <= 252; qf += 10) {
        ASSERT_EQ(control.save(path("q.jpg"), {format::kJpeg444, 0, int16_t(qf)}), kSuccess);
        sizes.push_back(QFileInfo(path("q.jpg")).size());
        EXPECT_TRUE(sizes.size() == 1 || sizes.back() < sizes[sizes.size() - 2]) << qf;
    }
    EXPECT_LT(sizes.back() * 10, sizes.front()) << "the coarsest factor gives a very small file";
}

TEST_F(JpegFormatTest, IccProfileTravelsWhenItsColourSpaceMatches) {
    struct Case {
        const char* name;
        const char* space;
        size_t size;
        bool gray;
        bool kept;
    };
    const Case cases[] = {
        {"rgb", "RGB ", 3000, false, true},
        {"rgb over several markers", "RGB ", 150000, false, true},
        {"gray", "GRAY", 500, true, true},
        {"gray profile, colour image", "GRAY", 500, false, false},
        {"rgb profile, gray image", "RGB ", 500, true, false},
        {"cmyk profile", "CMYK", 500, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> icc = testing::makeIccProfile(c.space, c.size);
        const Raster image = c.gray ? testing::makeGrayPhoto(32, 32) : makePhotoLike(32, 32);
        const QString in = writeJpeg("icc.jpg", image, {.icc = icc});
        ImagingControl control;
        ASSERT_EQ(control.load(in, 0), kSuccess);
        EXPECT_EQ(control.meta().iccProfile, icc);
        for (const int code : {format::kJpeg444, format::kTiffLzw}) {  // TIFF writes it too
            const QString out = path("icc-out");
            ASSERT_EQ(control.save(out, {int16_t(code), 0, 2}), kSuccess);
            ImagingControl back;
            ASSERT_EQ(back.load(out, 0), kSuccess);
            EXPECT_EQ(back.meta().iccProfile, c.kept ? icc : std::vector<uint8_t>{}) << code;
        }
    }
}

// The file information and the load state the image as its orientation turns it.
TEST_F(JpegFormatTest, ExifOrientationTurnsTheImage) {
    const Raster source = makePhotoLike(32, 16);
    ImagingControl upright;
    ASSERT_EQ(upright.load(writeJpeg("1.jpg", source), 0), kSuccess);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString file = writeJpeg(
            "o.jpg", source,
            {.exif = true,
             .exifFields = {.orientation = orientation, .xResolution = 300, .yResolution = 100}});
        const bool turned = orientation >= 5;
        const FileInfoRecord record = testing::infoOf(file);
        EXPECT_EQ(std::tuple(record.Width, record.Height, record.XResolution),
                  turned ? std::tuple(16, 32, 100) : std::tuple(32, 16, 300));
        Raster expected = upright.displayRaster();
        ASSERT_EQ(applyOrientation(expected, orientation), kSuccess);
        ImagingControl control;
        ASSERT_EQ(control.load(file, 0), kSuccess);
        EXPECT_EQ(control.displayRaster().pixels, expected.pixels);
        EXPECT_EQ(control.displayRaster().width, record.Width);
    }
}

TEST_F(JpegFormatTest, DisplayFitDecodesAtTheSmallestCoveringScale) {
    const QString file = writeJpeg("big.jpg", makePhotoLike(800, 600));
    // The box to fit, and the size decoded.
    for (const auto& [fit, size] :
         std::initializer_list<std::pair<QSize, QSize>>{{{0, 0}, {800, 600}},
                                                        {{100, 75}, {100, 75}},
                                                        {{100, 100}, {200, 150}},
                                                        {{401, 10}, {800, 600}},
                                                        {{400, 300}, {400, 300}},
                                                        {{1000, 1000}, {800, 600}}}) {
        ImagingControl control;
        control.setDisplayFit(fit.width(), fit.height());
        ASSERT_EQ(control.load(file, 0), kSuccess);
        EXPECT_EQ(QSize(control.displayRaster().width, control.displayRaster().height), size)
            << fit.width() << "x" << fit.height();
    }
}

TEST_F(JpegFormatTest, RandomlyDamagedFilesNeverCrash) {
    const JpegFixture variants[] = {
        {.hSamp = 2, .vSamp = 2, .exif = true, .exifFields = {.orientation = 6, .xResolution = 72}},
        {.progressive = true, .icc = testing::makeIccProfile("RGB ", 400)},
    };
    auto reader = makeJpegReader();
    uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (const JpegFixture& fixture : variants) {
        const QByteArray good = makeJpeg(makePhotoLike(48, 32), fixture);
        for (int round = 0; round < 100; ++round) {
            QByteArray bytes = good;
            const int edits = 1 + int(next() % 4);
            for (int e = 0; e < edits; ++e)
                bytes[qsizetype(next() % uint32_t(bytes.size()))] = char(next() >> 24);
            const QString file = path("fuzz.jpg");
            ASSERT_TRUE(testing::writeBytes(file, bytes));
            FileInfoRecord record;
            const int infoStatus = reader->readInfo(file, {}, record);
            DecodedImage image;
            Progress progress;
            const int status = reader->read(file, {}, {}, image, progress);
            if (status == kSuccess && infoStatus == kSuccess) {
                EXPECT_EQ(image.raster.width, record.Width);
                EXPECT_EQ(image.raster.height, record.Height);
                EXPECT_EQ(image.raster.pixels.size(),
                          image.raster.rowBytes() * size_t(image.raster.height));
            }
        }
    }
}

TEST_F(JpegFormatTest, ProgressRisesAndCancelLeavesNothing) {
    const QString in = writeJpeg("in.jpg", makePhotoLike(64, 400), {.progressive = true});
    ImagingControl control;
    std::vector<int> seen;
    control.onProgressStatus([&](int16_t percent) { seen.push_back(percent); });
    control.setEnableProgressEvent(true);
    ASSERT_EQ(control.load(in, 0), kSuccess);
    EXPECT_GT(seen.size(), 5u);
    testing::expectRisingProgress(seen);
    EXPECT_EQ(seen.back(), 100);

    seen.clear();
    const QString out = path("out.jpg");
    ASSERT_EQ(control.save(out, {format::kJpeg444, 0, 2}), kSuccess);
    EXPECT_GT(seen.size(), 5u);
    testing::expectRisingProgress(seen);
    // The Huffman coding pass after the blocks are transformed reports too.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int p) { return p > 80 && p < 100; }));

    for (const auto& [saving, at] : {std::pair{false, 30}, {true, 30}, {true, 85}}) {
        std::atomic<bool> stop{false};
        control.setCancelFlag(&stop);
        control.onProgressStatus([&, at = at](int16_t percent) {
            if (percent >= at)
                stop = true;
        });
        const QString cancelled = path("cancelled.jpg");
        const int16_t status =
            saving ? control.save(cancelled, {format::kJpeg444, 0, 2}) : control.load(in, 0);
        EXPECT_EQ(status, kErrCancelled);
        EXPECT_FALSE(QFile::exists(cancelled));
        control.setCancelFlag(nullptr);
    }
}

}  // namespace
}  // namespace pixavant::imaging
