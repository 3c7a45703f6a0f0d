#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>

#include "ImagingFixtures.h"
#include "JpegFixtures.h"
#include "MagickFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Verification.h"

namespace pixavant::imaging {
namespace {

using testing::JpegFixture;
using testing::makeJpeg;
using testing::makePhotoLike;
using testing::makeSolid;

class JpegFormatTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    void TearDown() override { testing::setSaveResolution(0, 0); }

    QString path(const QString& name) const { return dir_.filePath(name); }

    QString writeJpeg(const QString& name, const Raster& image, const JpegFixture& fixture = {}) {
        const QString file = path(name);
        EXPECT_TRUE(testing::writeBytes(file, makeJpeg(image, fixture)));
        return file;
    }

    static FileInfoRecord info(const QString& file) {
        FileInfoRecord record;
        EXPECT_EQ(readFileInfo(file, record), 1) << file.toStdString();
        return record;
    }

    QTemporaryDir dir_;
};

Raster grayOf(const Raster& rgb) {
    Raster gray = rgb;
    gray.format = PixelFormat::Gray8;
    gray.pixels.resize(size_t(rgb.width) * size_t(rgb.height));
    for (size_t i = 0; i < gray.pixels.size(); ++i)
        gray.pixels[i] = rgb.pixels[3 * i + 1];
    return gray;
}

JpegFixture marked(int h, int v, bool jfif, bool exif) {
    return {.hSamp = h, .vSamp = v, .jfif = jfif, .exif = exif};
}

TEST_F(JpegFormatTest, FormatCodeFollowsHeaderAndSampling) {
    struct Case {
        const char* name;
        JpegFixture fixture;
        bool gray;
        int code;
    };
    const Case cases[] = {
        {"jfif 444", marked(1, 1, true, false), false, format::kJpeg444},
        {"jfif 420", marked(2, 2, true, false), false, format::kJpeg420},
        {"jfif 422", marked(2, 1, true, false), false, format::kJpeg422},
        {"jfif gray", marked(1, 1, true, false), true, format::kJpeg444},
        {"exif 420", marked(2, 2, false, true), false, format::kExifJpeg420},
        {"exif 444", marked(1, 1, false, true), false, format::kExifJpeg},
        {"exif 422", marked(2, 1, false, true), false, format::kExifJpeg},
        {"exif gray", marked(1, 1, false, true), true, format::kExifJpeg},
        {"jfif and exif 420", marked(2, 2, true, true), false, format::kJpeg420},
        {"bare 420", marked(2, 2, false, false), false, format::kJpeg420},
        {"bare 444", marked(1, 1, false, false), false, format::kJpeg444},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Raster image = c.gray ? grayOf(makePhotoLike(40, 24)) : makePhotoLike(40, 24);
        const FileInfoRecord record = info(writeJpeg("f.jpg", image, c.fixture));
        EXPECT_EQ(record.Format, c.code);
        EXPECT_EQ(record.BitsPerPixel, c.gray ? 8 : 24);
        EXPECT_EQ(record.Width, 40);
        EXPECT_EQ(record.Height, 24);
    }
    const FileInfoRecord progressive =
        info(writeJpeg("p.jpg", makePhotoLike(40, 24), {.progressive = true}));
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
        const FileInfoRecord record = info(jpeg);
        EXPECT_EQ(record.XResolution, c.dpi);
        EXPECT_EQ(record.YResolution, c.dpi);
        ImagingControl control;
        ASSERT_EQ(control.load(jpeg, 0, 0, 1), kSuccess);
        EXPECT_EQ(std::lround(control.meta().xDpi), c.dpi);
    }
}

TEST_F(JpegFormatTest, EveryCoarserSliderPositionGivesASmallerFile) {
    ImagingControl control;
    ASSERT_EQ(control.load(writeJpeg("in.jpg", makePhotoLike(320, 240), {.quality = 100}), 0, 0, 1),
              kSuccess);
    std::vector<qint64> sizes;
    for (int qf = 2; qf <= 252; qf += 10) {
        ASSERT_EQ(control.save(path("q.jpg"), format::kJpeg444, 0, int16_t(qf), 0), kSuccess);
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
        const Raster image = c.gray ? grayOf(makePhotoLike(32, 32)) : makePhotoLike(32, 32);
        const QString in = writeJpeg("icc.jpg", image, {.icc = icc});
        ImagingControl control;
        ASSERT_EQ(control.load(in, 0, 0, 1), kSuccess);
        EXPECT_EQ(control.meta().iccProfile, icc);
        for (const int code : {format::kJpeg444, format::kTiffLzw}) {  // TIFF writes it too
            const QString out = path("icc-out");
            ASSERT_EQ(control.save(out, int16_t(code), 0, 2, 0), kSuccess);
            ImagingControl back;
            ASSERT_EQ(back.load(out, 0, 0, 1), kSuccess);
            EXPECT_EQ(back.meta().iccProfile, c.kept ? icc : std::vector<uint8_t>{}) << code;
        }
    }
}

TEST_F(JpegFormatTest, ExifOrientationTurnsTheImage) {
    // Quadrants red, green / blue, white, 32 x 16; the corners after each orientation.
    Raster source = makeSolid(32, 16, 0, 0, 0);
    source.pixels = testsupport::quadrantPattern(32, 16);
    const std::array<uint8_t, 3> colours[4] = {
        {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    enum { R, G, B, W };
    struct Case {
        int orientation;
        std::array<int, 4> corners;  // top left, top right, bottom left, bottom right
    };
    const Case cases[] = {{1, {R, G, B, W}}, {2, {G, R, W, B}}, {3, {W, B, G, R}},
                          {4, {B, W, R, G}}, {5, {R, B, G, W}}, {6, {B, R, W, G}},
                          {7, {W, G, B, R}}, {8, {G, W, R, B}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "orientation " << c.orientation);
        const QString file = writeJpeg(
            "o.jpg", source,
            {.exif = true,
             .exifFields = {.orientation = c.orientation, .xResolution = 300, .yResolution = 100}});
        const bool turned = c.orientation >= 5;
        const FileInfoRecord record = info(file);
        EXPECT_EQ(record.Width, turned ? 16 : 32);
        EXPECT_EQ(record.Height, turned ? 32 : 16);
        EXPECT_EQ(record.XResolution, turned ? 100 : 300);

        ImagingControl control;
        ASSERT_EQ(control.load(file, 0, 0, 1), kSuccess);
        const Raster& image = control.displayRaster();
        ASSERT_EQ(image.width, record.Width);
        ASSERT_EQ(image.height, record.Height);
        const int w = image.width - 1;
        const int h = image.height - 1;
        const std::array<std::pair<int, int>, 4> at = {
            {{1, 1}, {w - 1, 1}, {1, h - 1}, {w - 1, h - 1}}};
        for (size_t i = 0; i < 4; ++i) {
            const uint8_t* p = image.row(at[i].second) + 3 * at[i].first;
            const auto& want = colours[c.corners[i]];
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(p[k], want[size_t(k)], 40) << "corner " << i;
        }
    }
}

TEST_F(JpegFormatTest, DisplayFitDecodesAtTheSmallestCoveringScale) {
    struct Case {
        int fitWidth, fitHeight;
        int width, height;
    };
    const Case cases[] = {
        {0, 0, 800, 600},    {100, 75, 100, 75},   {100, 100, 200, 150},
        {401, 10, 800, 600}, {400, 300, 400, 300}, {1000, 1000, 800, 600},
    };
    const QString file = writeJpeg("big.jpg", makePhotoLike(800, 600));
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fitWidth << "x" << c.fitHeight);
        ImagingControl control;
        control.setDisplayFit(c.fitWidth, c.fitHeight);
        ASSERT_EQ(control.load(file, 0, 0, 1), kSuccess);
        EXPECT_EQ(control.displayRaster().width, c.width);
        EXPECT_EQ(control.displayRaster().height, c.height);
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
    ASSERT_EQ(control.load(in, 0, 0, 1), kSuccess);
    EXPECT_GT(seen.size(), 5u);
    testing::expectRisingProgress(seen);
    EXPECT_EQ(seen.back(), 100);

    seen.clear();
    const QString out = path("out.jpg");
    ASSERT_EQ(control.save(out, format::kJpeg444, 0, 2, 0), kSuccess);
    EXPECT_GT(seen.size(), 5u);
    testing::expectRisingProgress(seen);
    // The Huffman coding pass after the blocks are transformed reports too.
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](int p) { return p > 80 && p < 100; }));

    for (const auto& [saving, at] : {std::pair{false, 30}, {true, 30}, {true, 85}}) {
        control.onProgressStatus([&, at = at](int16_t percent) {
            if (percent >= at)
                control.abortOperation();
        });
        const QString cancelled = path("cancelled.jpg");
        const int16_t status =
            saving ? control.save(cancelled, format::kJpeg444, 0, 2, 0) : control.load(in, 0, 0, 1);
        EXPECT_EQ(status, kErrCancelled);
        EXPECT_FALSE(QFile::exists(cancelled));
    }
}

}  // namespace
}  // namespace pixavant::imaging
