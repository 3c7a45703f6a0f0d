// Damaged and hostile files fail cleanly and quietly in every reader: the file information or a
// failure code, a load that succeeds or fails with the right code, nothing printed. Among them the
// inputs the fuzz targets found faults with, kept so that the faults stay fixed.
#include <tiffio.h>
#include <unistd.h>

#include <functional>
#include <random>

#include "ImagingFixtures.h"

namespace pixavant::imaging {
namespace {

// The size check itself, at the edges of the field widths headers use.
TEST(FuzzRegression, SizeCheckNeverOverflows) {
    struct Size {
        int64_t width, height;
        int16_t expected;
    };
    const Size sizes[] = {
        {16384, 16384, kSuccess},  // exactly 2^28
        {16384, 16385, kErrNoMemory},
        {kMaxPixels, 1, kSuccess},
        {kMaxPixels + 1, 1, kErrNoMemory},
        {0xffffffffLL, 0xffffffffLL, kErrNoMemory},  // 32-bit fields: the product overflowed
        {INT64_MAX, INT64_MAX, kErrNoMemory},
        {1, INT64_MAX, kErrNoMemory},
        {0, 5, kErrCorrupt},
        {-1, -1, kErrCorrupt},
    };
    for (const Size& s : sizes)
        EXPECT_EQ(checkImageSize(s.width, s.height), s.expected) << s.width << " x " << s.height;
}

// Runs `body` with the process's standard error sent to a file; returns what was written there.
QByteArray captureStderr(const QString& file, const std::function<void()>& body) {
    fflush(stderr);
    const int saved = dup(2);
    FILE* sink = fopen(QFile::encodeName(file).constData(), "w");
    dup2(fileno(sink), 2);
    body();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    fclose(sink);
    return testing::readBytes(file);
}

QByteArray randomBytes(int n, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray bytes(n, '\0');
    for (char& b : bytes)
        b = char(random());
    return bytes;
}

// A file of the given kind that a library wrote, for damaging.
QByteArray written(const QString& dir, const QString& name) {
    const QString path = dir + "/whole." + name;
    if (name == "tif") {
        EXPECT_TRUE(
            testing::writeTiffFixture(path, {.width = 64,
                                             .height = 64,
                                             .samplesPerPixel = 3,
                                             .photometric = PHOTOMETRIC_RGB,
                                             .data = std::vector<uint8_t>(64 * 64 * 3, 0x55)}));
    } else if (name == "jxl") {
        ImagingControl control;
        EXPECT_TRUE(testing::writeBytes(dir + "/in.jpg",
                                        testing::makeJpeg(testing::makePhotoLike(200, 150))));
        EXPECT_EQ(control.load(dir + "/in.jpg", 24), kSuccess);
        EXPECT_EQ(control.convertToGray(), kSuccess);  // encoded afresh, not carried over
        EXPECT_EQ(control.save(path, {format::kPixavantLossless, 0, 0}), kSuccess);
    } else {
        EXPECT_TRUE(testsupport::writeMagickImage(
            path, 64, 64, testsupport::quadrantPattern(64, 64), {.coder = name.toUpper()}));
    }
    return testing::readBytes(path);
}

// The bytes of a JPEG XL codestream whose header claims width x height and nothing else.
QByteArray jxlClaiming(uint32_t width, uint32_t height) {
    uint64_t bits = 0;
    int count = 0;
    for (const auto& [value, n] : {std::pair<uint64_t, int>{0, 1},  // not a small size
                                   {2, 2},                          // height - 1 in 18 bits
                                   {height - 1, 18},
                                   {0, 3},  // no ratio: the width follows
                                   {2, 2},
                                   {width - 1, 18},
                                   {1, 1}}) {  // image metadata: all default
        bits |= value << count;
        count += n;
    }
    QByteArray bytes("\xFF\x0A");
    for (int i = 0; i < count; i += 8)
        bytes.append(char(uint8_t(bits >> i)));
    return bytes + QByteArray(64, '\0');
}

constexpr int kFails = -3;           // the information: any failure code
constexpr int kFailsNotMemory = -1;  // the load: any failure but kErrNoMemory
constexpr int kAnyFailure = -2;      // the load: any failure code

TEST(DamagedFiles, FailCleanlyAndQuietlyInEveryReader) {
    QTemporaryDir dir;
    const QString d = dir.path();
    const QByteArray random = randomBytes(3000, 7);
    const QByteArray tif = written(d, "tif"),
                     jpg = testing::makeJpeg(testing::makePhotoLike(128, 96));
    const QByteArray jxl = written(d, "jxl"), gif = written(d, "gif"), bmp = written(d, "bmp3");
    QByteArray jpgMarkers = jpg, jxlNoise = jxl;
    jpgMarkers.replace(jpg.size() / 2, 40, QByteArray(40, '\xFF'));
    jxlNoise.replace(jxl.size() / 3, jxl.size() / 2, randomBytes(int(jxl.size()) / 2, 3));
    testing::RawTiff beyond, shortStrip, badLzw, noWidth;
    beyond.stripOffset = 1000000;
    beyond.stripData = QByteArray(64, '\x10');
    shortStrip.stripData = QByteArray(10, '\x10');
    badLzw.compression = COMPRESSION_LZW;
    badLzw.stripData = random.left(64);
    noWidth.width = 0;
    testing::TiffFixture fax{.width = 64,
                             .height = 64,
                             .bitsPerSample = 1,
                             .photometric = PHOTOMETRIC_MINISWHITE,
                             .compression = COMPRESSION_CCITTFAX4};
    for (size_t i = 0; i < 8 * 64; ++i)
        fax.data.push_back(uint8_t((i * 37) ^ (i >> 3)));
    ASSERT_TRUE(testing::writeTiffFixture(d + "/fax.tif", fax));
    QByteArray faxGarbled = testing::readBytes(d + "/fax.tif");
    // Half-precision floating point, a sample kind no reader takes.
    testing::TiffFixture floats{.bitsPerSample = 16, .sampleFormat = SAMPLEFORMAT_IEEEFP};
    floats.data.assign(4 * 4 * 2, 0);
    ASSERT_TRUE(testing::writeTiffFixture(d + "/float.tif", floats));
    for (qsizetype i = 8 + 40; i < 8 + 80; ++i)  // the strip follows the 8-byte header
        faxGarbled[i] = char(faxGarbled[i] ^ 0xa5);
    QByteArray mpeg("\x00\x00\x01\xba\x44\x00\x04\x00\x04\x01\x01\x89\xc3\xf8", 14);
    QByteArray mov(
        "\x00\x00\x00\x14"
        "ftypqt  \x00\x00\x02\x00qt  \x00\x00\x00\x08moov",
        28);
    const struct {
        const char* name;
        QByteArray bytes;
        int info;  // kSuccess: the information is read; otherwise the failure code, or kFails
        int load;  // the load's code, or kFailsNotMemory
    } cases[] = {
        {"empty.tif", "", kFails, kFailsNotMemory},
        {"random.tif", random, kFails, kFailsNotMemory},
        {"garbage after the signature.tif", "II*\0" + random, kFails, kFailsNotMemory},
        {"strip beyond the end.tif", testing::buildRawTiff(beyond), kSuccess, kFailsNotMemory},
        {"strip cut short.tif", testing::buildRawTiff(shortStrip), kSuccess, kFailsNotMemory},
        {"bad LZW.tif", testing::buildRawTiff(badLzw), kSuccess, kFailsNotMemory},
        {"zero width.tif", testing::buildRawTiff(noWidth), kFails, kFailsNotMemory},
        {"garbled fax data.tif", faxGarbled, kSuccess, kErrCorrupt},
        {"half-float samples.tif", testing::readBytes(d + "/float.tif"), kSuccess, kErrFormat},
        {"directory cut off.tif", tif.left(6000), kFails, kFailsNotMemory},
        {"cut in the image data.jpg", jpg.left(jpg.size() * 6 / 10), kSuccess, kErrCorrupt},
        {"end marker missing.jpg", jpg.left(jpg.size() - 2), kSuccess, kSuccess},
        {"cut in the header.jpg", jpg.left(40), kFails, kErrCorrupt},
        {"signature only.jpg", "\xFF\xD8\xFF", kFails, kErrCorrupt},
        {"markers in the image data.jpg", jpgMarkers, kSuccess, kErrCorrupt},
        {"signature only.jxl", jxl.left(12), kErrCorrupt, kErrCorrupt},
        {"cut after the header.jxl", jxl.left(jxl.size() / 2), kSuccess, kErrCorrupt},
        {"random after the container signature.jxl", jxl.left(12) + randomBytes(5000, 1), kFails,
         kErrCorrupt},
        {"random after the codestream signature.jxl", "\xFF\x0A" + randomBytes(5000, 2), kFails,
         kErrCorrupt},
        // The information needs only the intact header.
        {"corrupted pixel data.jxl", jxlNoise, kSuccess, kErrCorrupt},
        {"huge.jxl", jxlClaiming(100000, 100000), kErrNoMemory, kErrNoMemory},
        {"just over the limit.jxl", jxlClaiming(16385, 16384), kErrNoMemory, kErrNoMemory},
        {"cut.gif", gif.left(gif.size() / 2), kSuccess, kErrCorrupt},
        {"cut.bmp", bmp.left(bmp.size() / 2), kFails, kErrCorrupt},
        // Formats that are refused: video, scripts that read other files, nothing at all.
        {"clip.mpeg", mpeg + QByteArray(2000, '\0'), kErrFormat, kErrFormat},
        {"clip.mov", mov + QByteArray(2000, '\x11'), kErrFormat, kErrFormat},
        {"script.svg",
         "<svg xmlns=\"http://www.w3.org/2000/svg\"><image href=\"/etc/passwd\"/></svg>",
         kErrFormat, kErrFormat},
        {"draw.mvg", "viewbox 0 0 10 10\nimage over 0,0 0,0 '/etc/passwd'\n", kErrFormat,
         kErrFormat},
        {"empty.gif", "", kErrFormat, kErrFormat},
        {"noise.gif", QByteArray(3000, '\x5a'), kErrFormat, kErrFormat},
        {"text.tga", "hello, this is not a targa file at all", kErrFormat, kErrFormat},
        // Inputs the fuzz targets found: Sun raster headers whose width times height overflowed
        // the 64-bit size check.
        {"sun raster, both sides 2^32 - 1.img",
         testing::bytesOf({0x59, 0xa6, 0x6a, 0x95, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
                           0xff, 0xff, 0xff, 0xff, 0xbf, 0xff, 0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10}),
         kFails, kAnyFailure},
        {"sun raster cut short after the width.img",
         testing::bytesOf({0x59, 0xa6, 0x6a, 0x95, 0xff, 0xff, 0xff, 0xff, 0xff, 0xcc}), kFails,
         kAnyFailure},
        {"sun raster, 3 x 10^9 by 3.9 x 10^9.img",
         testing::bytesOf({0x59, 0xa6, 0x6a, 0x95, 0xc6, 0x42, 0x53, 0x88, 0xe9, 0x07, 0x0c, 0xcb,
                           0x07, 0xd5, 0x13, 0x4a, 0x58, 0x4c, 0x20}),
         kFails, kAnyFailure},
        {"sun raster, 4.28 x 10^9 by 2.87 x 10^9.img",
         testing::bytesOf({0x59, 0xa6, 0x6a, 0x95, 0xff, 0x00, 0x00, 0x00, 0xab, 0x00, 0x00,
                           0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x37,
                           0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x00, 0x00, 0x00, 0x4a}),
         kFails, kAnyFailure},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = d + "/" + c.name;
        ASSERT_TRUE(testing::writeBytes(file, c.bytes));
        const QByteArray printed = captureStderr(d + "/stderr.txt", [&] {
            FileInfoRecord info;
            const int32_t result = readFileInfo(file, info);
            if (c.info == kFails)
                EXPECT_NE(result, kSuccess);
            else
                EXPECT_EQ(result, c.info);
            ImagingControl control;
            const int16_t status = control.load(file, 0);
            if (c.load < 0)
                EXPECT_TRUE(status != kSuccess && (c.load == kAnyFailure || status != kErrNoMemory))
                    << status;
            else
                EXPECT_EQ(status, c.load);
            EXPECT_EQ(control.hasImage(), status == kSuccess);
        });
        // libjxl prints its own trail of a damaged file's errors (a build option of Debian's).
        EXPECT_TRUE(printed.isEmpty() || file.endsWith(".jxl")) << printed.toStdString();
    }
}

}  // namespace
}  // namespace pixavant::imaging
