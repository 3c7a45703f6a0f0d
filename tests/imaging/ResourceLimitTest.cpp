// Hostile sizes: a header that promises more than kMaxPixels fails the load with kErrNoMemory
// before the pixels are allocated, in every reader; files with thousands of frames or pages are
// read without decoding them all; PostScript is rendered in safe mode with a time limit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>

#include "JpegFixtures.h"
#include "MagickFixtures.h"
#include "TiffFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {
namespace {

// Peak resident memory of this process in KiB since the last resetPeak().
long peakKiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}
long currentKiB() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}
// Resets VmHWM to the current resident size.
void resetPeak() {
    QFile refs("/proc/self/clear_refs");
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

void put16le(QByteArray& b, uint16_t v) {
    b.append(char(v & 0xff)).append(char(v >> 8));
}
void put32le(QByteArray& b, uint32_t v) {
    put16le(b, uint16_t(v));
    put16le(b, uint16_t(v >> 16));
}
void put32be(QByteArray& b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        b.append(char((v >> s) & 0xff));
}

uint32_t crc32(const QByteArray& data) {
    uint32_t crc = 0xffffffffu;
    for (const char c : data) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bmpHeader(int32_t width, int32_t height) {
    QByteArray b("BM");
    put32le(b, 54 + 64);
    put32le(b, 0);
    put32le(b, 54);
    put32le(b, 40);
    put32le(b, uint32_t(width));
    put32le(b, uint32_t(height));
    put16le(b, 1);
    put16le(b, 24);
    for (int i = 0; i < 6; ++i)
        put32le(b, 0);
    return b + QByteArray(64, '\x40');
}

QByteArray gifHeader(uint16_t width, uint16_t height) {
    QByteArray b("GIF89a");
    put16le(b, width);
    put16le(b, height);
    b.append('\x80').append('\0').append('\0');  // global table of 2 colours
    b.append(QByteArray("\0\0\0\xff\xff\xff", 6));
    b.append(',');
    put16le(b, 0);
    put16le(b, 0);
    put16le(b, width);
    put16le(b, height);
    b.append('\0');
    b.append(QByteArray("\x02\x02\x4c\x01\x00\x3b", 6));
    return b;
}

QByteArray pngHeader(uint32_t width, uint32_t height) {
    QByteArray b("\x89PNG\r\n\x1a\n", 8);
    QByteArray ihdr("IHDR");
    put32be(ihdr, width);
    put32be(ihdr, height);
    ihdr.append(QByteArray("\x08\x02\x00\x00\x00", 5));
    put32be(b, 13);
    b.append(ihdr);
    put32be(b, crc32(ihdr));
    QByteArray idat("IDAT");
    idat.append(QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
    put32be(b, 8);
    b.append(idat);
    put32be(b, crc32(idat));
    return b;
}

QByteArray pcxHeader(uint16_t xmax, uint16_t ymax) {
    QByteArray b(128, '\0');
    b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 8;
    b[8] = char(xmax & 0xff), b[9] = char(xmax >> 8);
    b[10] = char(ymax & 0xff), b[11] = char(ymax >> 8);
    b[65] = 3;
    b[66] = char(xmax & 0xff), b[67] = char(xmax >> 8);
    return b + QByteArray(64, '\xc1');
}

QByteArray tgaHeader(uint16_t width, uint16_t height) {
    QByteArray b(18, '\0');
    b[2] = 2;
    b[12] = char(width & 0xff), b[13] = char(width >> 8);
    b[14] = char(height & 0xff), b[15] = char(height >> 8);
    b[16] = 24;
    return b + QByteArray(64, '\x20');
}

QByteArray sunHeader(uint32_t width, uint32_t height) {
    QByteArray b;
    put32be(b, 0x59a66a95);
    put32be(b, width);
    put32be(b, height);
    put32be(b, 24);
    put32be(b, 64);
    put32be(b, 1);
    put32be(b, 0);
    put32be(b, 0);
    return b + QByteArray(64, '\x10');
}

QByteArray jpegWithSize(uint16_t width, uint16_t height) {
    QByteArray jpeg = testing::makeJpeg(testing::makeSolid(8, 8, 10, 20, 30));
    const qsizetype sof = jpeg.indexOf(QByteArray("\xff\xc0", 2));
    if (sof < 0)
        return {};
    jpeg[sof + 5] = char(height >> 8), jpeg[sof + 6] = char(height & 0xff);
    jpeg[sof + 7] = char(width >> 8), jpeg[sof + 8] = char(width & 0xff);
    return jpeg;
}

QByteArray tiffWithSize(uint32_t width, uint32_t height) {
    testing::RawTiff raw;
    raw.width = width;
    raw.height = height;
    raw.stripByteCount = 64;
    raw.stripData = QByteArray(64, '\x7f');
    return testing::buildRawTiff(raw);
}

QByteArray epsWithBox(int width, int height) {
    return QStringLiteral(
               "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 %1 %2\n%%EndComments\n"
               "0 0 moveto %1 %2 lineto stroke showpage\n")
        .arg(width)
        .arg(height)
        .toLatin1();
}

class ResourceLimits : public ::testing::Test {
  protected:
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = dir_.path() + "/" + name;
        EXPECT_TRUE(testing::writeBytes(path, bytes));
        return path;
    }
    QTemporaryDir dir_;
};

// 20000 x 20000 = 4e8 pixels, or 65000 x 65000 where the field is 16 bits: all above 2^28.
TEST_F(ResourceLimits, OversizedHeaderFailsWithNotEnoughMemoryInEveryReader) {
    struct Case {
        const char* name;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"huge.jpg", jpegWithSize(65000, 65000)}, {"huge.tif", tiffWithSize(20000, 20000)},
        {"wide.tif", tiffWithSize(4000000, 100)}, {"huge.bmp", bmpHeader(20000, 20000)},
        {"huge.gif", gifHeader(65000, 65000)},    {"huge.png", pngHeader(20000, 20000)},
        {"huge.pcx", pcxHeader(64999, 64999)},    {"huge.tga", tgaHeader(65000, 65000)},
        {"huge.ras", sunHeader(20000, 20000)},    {"max.ras", sunHeader(0xffffffffu, 0xffffffffu)},
        {"huge.eps", epsWithBox(300000, 300000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.isEmpty());
        const QString path = write(c.name, c.bytes);
        FileInfoRecord info;
        const int32_t infoResult = readFileInfo(path, info);
        EXPECT_TRUE(infoResult == 1 || infoResult == kErrNoMemory) << infoResult;
        resetPeak();
        const long before = currentKiB();
        ImagingControl control;
        EXPECT_EQ(control.load(path, 0, 0, 1), kErrNoMemory);
        EXPECT_FALSE(control.hasImage());
        EXPECT_LT(peakKiB() - before, 64 * 1024) << "allocated before refusing";
    }
}

// Writes a file in a child process, so that the writer's memory does not count here.
bool writeInChild(const std::function<bool()>& writer) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(writer() ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// 3000 frames of 64 x 64: decoding them all would hold about 100 MB of frames.
TEST_F(ResourceLimits, GifWithThousandsOfFramesDecodesTheFirstOnly) {
    const QString path = dir_.path() + "/frames.gif";
    ASSERT_TRUE(writeInChild([&] {
        testsupport::MagickWriteOptions options;
        options.coder = "GIF";
        options.frames = 3000;
        return testsupport::writeMagickImage(path, 64, 64, testsupport::quadrantPattern(64, 64),
                                             options);
    }));
    resetPeak();
    const long before = currentKiB();
    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(path, info), 1);
    EXPECT_EQ(info.Width, 64);
    ImagingControl control;
    ASSERT_EQ(control.load(path, 0, 0, 1), kSuccess);
    EXPECT_LT(peakKiB() - before, 24 * 1024);
    const Raster& shown = control.displayRaster();
    ASSERT_EQ(shown.width, 64);
    // The first frame (the quadrants: red top left), not a later solid blue one.
    EXPECT_EQ(shown.row(0)[0], 255);
    EXPECT_EQ(shown.row(0)[2], 0);
}

// 3000 pages of 512 x 512 gray, LZW: decoding them all would hold 750 MB.
TEST_F(ResourceLimits, TiffWithThousandsOfPagesDecodesTheFirstOnly) {
    const QString path = dir_.path() + "/pages.tif";
    ASSERT_TRUE(writeInChild([&] {
        testing::TiffFixture f;
        f.width = f.height = 512;
        f.compression = 5;
        f.rowsPerStrip = 512;
        f.data.assign(size_t(512) * 512, 40);
        f.pages = 3000;
        return testing::writeTiffFixture(path, f);
    }));
    resetPeak();
    const long before = currentKiB();
    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(path, info), 1);
    EXPECT_GE(info.TotalPages, 1);
    ImagingControl control;
    ASSERT_EQ(control.load(path, 0, 0, 1), kSuccess);
    EXPECT_LT(peakKiB() - before, 24 * 1024);
    EXPECT_EQ(control.displayRaster().row(0)[0], 40);  // the first page, not an inverted one
}

// PostScript cannot touch other files (safe mode), and a page that never ends is stopped.
TEST_F(ResourceLimits, PostScriptRunsInSafeModeAndWithinATimeLimit) {
    const QString victim = dir_.path() + "/victim.txt";
    ASSERT_TRUE(testing::writeBytes(victim, "keep"));
    const QString escape =
        write("escape.eps", QStringLiteral("%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 20 20\n"
                                           "(%1) deletefile\n(%2.new) (w) file closefile\n"
                                           "0 0 moveto 20 20 lineto stroke showpage\n")
                                .arg(victim, victim)
                                .toLatin1());
    ImagingControl control;
    control.load(escape, 0, 0, 1);  // may fail on the refused operator: what matters is below
    EXPECT_TRUE(QFile::exists(victim));
    EXPECT_FALSE(QFile::exists(victim + ".new"));

    // An endless loop: the renderer is stopped by the time limit (or the caller's cancel).
    const QString endless =
        write("endless.eps",
              "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 20 20\n{ 1 pop } loop\nshowpage\n");
    ImagingControl looping;
    int notifications = 0;
    looping.setEnableProgressEvent(true);
    looping.onProgressStatus([&](int16_t) {
        if (++notifications == 3)
            looping.abortOperation();  // stands in for the time limit, which is a minute long
    });
    const int16_t result = looping.load(endless, 0, 0, 1);
    EXPECT_TRUE(result == kErrCancelled || result == kErrLimit) << result;
}

}  // namespace
}  // namespace pixavant::imaging
