// Hostile sizes and failing disks: a header that promises more than kMaxPixels fails the load with
// kErrNoMemory before the pixels are allocated, in every reader; files with thousands of frames or
// pages are read without decoding them all; PostScript is rendered in safe mode with a time limit;
// a save that cannot be written fails as a write error and leaves nothing behind.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <tuple>

#include "ImagingFixtures.h"
#include "PngFixtures.h"

namespace pixavant::imaging {
namespace {

using testing::putBe32;
using testing::putLe32;

// Resident memory of this process in KiB: "VmHWM" the peak since resetPeak(), "VmRSS" now.
long statusKiB(const QByteArray& field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLong();
    return 0;
}
void resetPeak() {
    QFile refs("/proc/self/clear_refs");
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// Bytes overwritten at the given offsets; integers as little- or big-endian bytes.
QByteArray patched(QByteArray bytes, std::initializer_list<std::pair<int, QByteArray>> patches) {
    for (const auto& [at, with] : patches)
        bytes.replace(at, with.size(), with);
    return bytes;
}
QByteArray le(uint32_t v, int bytes = 4) {
    QByteArray b;
    putLe32(b, v);
    return b.left(bytes);
}
QByteArray be(uint32_t v, int bytes = 4) {
    QByteArray b;
    putBe32(b, v);
    return b.right(bytes);
}

// A small file GraphicsMagick writes in the given coder.
QByteArray magickFile(const QString& dir, const QString& coder) {
    const QString path = dir + "/small." + coder;
    EXPECT_TRUE(testsupport::writeMagickImage(path, 8, 8, testsupport::quadrantPattern(8, 8),
                                              {.coder = coder}));
    return testing::readBytes(path);
}

QByteArray tiffWithSize(uint32_t width, uint32_t height) {
    return testing::buildRawTiff(
        {.width = width, .height = height, .stripByteCount = 64, .stripData = QByteArray(64, 'x')});
}

class ResourceLimits : public testing::ImagingTest {};

// 20000 x 20000 = 4e8 pixels, or 65000 x 65000 where the field is 16 bits: all above 2^28.
TEST_F(ResourceLimits, OversizedHeaderFailsWithNotEnoughMemoryInEveryReader) {
    const QString d = dir_.path();
    QByteArray jpeg = testing::makeJpeg(testing::makeSolid(8, 8, 10, 20, 30));
    const int sof = int(jpeg.indexOf(QByteArray("\xff\xc0", 2)));
    ASSERT_GT(sof, 0);
    const QByteArray pcx = magickFile(d, "PCX");
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"huge.jpg", patched(jpeg, {{sof + 5, be(65000, 2)}, {sof + 7, be(65000, 2)}})},
        {"huge.tif", tiffWithSize(20000, 20000)},
        {"wide.tif", tiffWithSize(4000000, 100)},
        {"huge.bmp", patched(testsupport::bmpFile(8, 8, {}), {{18, le(20000)}, {22, le(20000)}})},
        {"huge.gif", patched(magickFile(d, "GIF"), {{6, le(65000, 2)}, {8, le(65000, 2)}})},
        {"huge.png", testing::PngBuilder(20000, 20000, 8, 2)
                         .chunk("IDAT", QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8))
                         .finish()},
        {"huge.pcx", patched(pcx, {{8, le(64999, 2)}, {10, le(64999, 2)}, {66, le(65000, 2)}})},
        {"huge.tga", patched(magickFile(d, "TGA"), {{12, le(65000, 2)}, {14, le(65000, 2)}})},
        {"huge.ras", patched(magickFile(d, "SUN"), {{4, be(20000)}, {8, be(20000)}})},
        {"max.ras", patched(magickFile(d, "SUN"), {{4, be(0xffffffffu)}, {8, be(0xffffffffu)}})},
        {"huge.eps",
         "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 300000 300000\n"
         "0 0 moveto 300000 300000 lineto stroke showpage\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(c.bytes.size(), 20);
        const QString path = write(c.name, c.bytes);
        FileInfoRecord info;
        const int32_t infoResult = readFileInfo(path, info);
        EXPECT_TRUE(infoResult == kSuccess || infoResult == kErrNoMemory) << infoResult;
        resetPeak();
        const long before = statusKiB("VmRSS");
        ImagingControl control;
        EXPECT_EQ(control.load(path, 0), kErrNoMemory);
        EXPECT_FALSE(control.hasImage());
        EXPECT_LT(statusKiB("VmHWM") - before, 64 * 1024) << "allocated before refusing";
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

// 3000 frames of 64 x 64 GIF: an animation converts as its first frame, the others never decoded
// (all of them would hold 100 MB), and a note says so. 3000 pages of 512 x 512 LZW TIFF are
// within the budget of one file: each page is loaded alone, in the memory of one page.
TEST_F(ResourceLimits, AnimationsDecodeTheirFirstFrameAndPagesOneAtATime) {
    const QString gif = dir_.path() + "/frames.gif";
    const QString tiff = dir_.path() + "/pages.tif";
    ASSERT_TRUE(writeInChild([&] {
        return testsupport::writeMagickImage(gif, 64, 64, testsupport::quadrantPattern(64, 64),
                                             {.coder = "GIF", .frames = 3000});
    }));
    ASSERT_TRUE(writeInChild([&] {
        testing::TiffFixture f;
        f.width = f.height = 512;
        f.compression = 5;
        f.rowsPerStrip = 512;
        f.data.assign(size_t(512) * 512, 40);
        f.pages = 3000;
        return testing::writeTiffFixture(tiff, f);
    }));
    ImagingControl control;
    int32_t pages = 0;
    ASSERT_EQ(control.readPageCount(gif, pages), kSuccess);
    EXPECT_EQ(pages, 1);
    resetPeak();
    long before = statusKiB("VmRSS");
    ASSERT_EQ(control.load(gif, 24), kSuccess);
    EXPECT_LT(statusKiB("VmHWM") - before, 24 * 1024);
    const uint8_t* shown = control.displayRaster().row(0);
    EXPECT_EQ(std::vector<uint8_t>(shown, shown + 3), (std::vector<uint8_t>{255, 0, 0}));
    EXPECT_EQ(control.notes(),
              std::vector<std::string>{"animation of 3000 frames: the first converted"});

    ASSERT_EQ(control.readPageCount(tiff, pages), kSuccess);
    EXPECT_EQ(pages, 3000);
    resetPeak();
    before = statusKiB("VmRSS");
    for (int page : {0, 1, 2999}) {
        ASSERT_EQ(control.load(tiff, 24, page), kSuccess);
        const uint8_t* pixel = control.displayRaster().row(0);
        EXPECT_EQ(pixel[0], page % 2 == 0 ? 40 : 215) << page;  // later pages inverted
    }
    EXPECT_LT(statusKiB("VmHWM") - before, 24 * 1024);
    EXPECT_EQ(control.load(tiff, 24, 3000), kErrCorrupt);
}

// Beyond the budget of one file (10000 pages, or 2^34 pixels in all) a file is refused with the
// reason, before any page is decoded; a chain of pages that loops is refused as damaged. Its
// information and its first page are read all the same.
TEST_F(ResourceLimits, APageBudgetPerFileAndLoopsRefused) {
    testing::RawTiff raw;
    raw.stripData = QByteArray(64, '\x40');
    const std::tuple<int, bool, uint32_t, int, const char*> cases[] = {
        {12000, false, 8, kErrLimit, "more than 10000 pages"},
        {3, true, 8, kErrCorrupt, "the chain of pages loops back after page 3"},
        {400, false, 16384, kErrLimit, "400 pages of 107374 megapixels in all"},
        {10000, false, 8, kSuccess, ""},
    };
    for (const auto& [directories, loop, side, status, reason] : cases) {
        raw.directories = directories;
        raw.loop = loop;
        raw.width = raw.height = side;
        const QString path = dir_.path() + "/chain.tif";
        ASSERT_TRUE(testing::writeFile(path, testing::buildRawTiff(raw)));
        ImagingControl control;
        int32_t pages = 0;
        EXPECT_EQ(control.readPageCount(path, pages), status) << directories;
        EXPECT_TRUE(status == kSuccess ? control.lastErrorDetail().isEmpty()
                                       : control.lastErrorDetail().startsWith(reason))
            << directories << ": " << control.lastErrorDetail().toStdString();
        // The information counts up to 10000 pages and around a loop; the first page loads.
        EXPECT_EQ(testing::infoOf(path).TotalPages, std::min(directories, 10000)) << directories;
        DecodedImage image;
        EXPECT_EQ(side > 8 ? kSuccess : testing::decode(path, image), kSuccess) << directories;
    }
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
    control.load(escape, 0);  // may fail on the refused operator: what matters is below
    EXPECT_TRUE(QFile::exists(victim));
    EXPECT_FALSE(QFile::exists(victim + ".new"));

    // An endless loop: the renderer is stopped by the time limit (or the caller's cancel).
    const QString endless =
        write("endless.eps",
              "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 20 20\n{ 1 pop } loop\nshowpage\n");
    ImagingControl looping;
    int notifications = 0;
    std::atomic<bool> stop{false};
    looping.setCancelFlag(&stop);
    looping.setEnableProgressEvent(true);
    looping.onProgressStatus([&](int16_t) {
        if (++notifications == 3)
            stop = true;  // stands in for the time limit, which is a minute long
    });
    const int16_t result = looping.load(endless, 0);
    EXPECT_TRUE(result == kErrCancelled || result == kErrLimit) << result;
}

// A full disk, a missing folder, and a file-size limit reached in the middle of the pixels: each
// writer fails with a write error, leaves no temporary file, and an earlier file of the output's
// name as it was.
TEST_F(ResourceLimits, WritesThatFailLeaveNothingInEveryFormat) {
    ImagingControl control;  // SIGXFSZ is ignored (TestMain): a write over the limit fails
    ASSERT_EQ(control.load(write("in.jpg", testing::makeJpeg(testing::makePhotoLike(400, 300))), 0),
              kSuccess);
    const QByteArray earlier = "an earlier output";
    const QString out = write("out", earlier);
    for (const int code : {format::kTiff, format::kTiffLzw, format::kTiffG4, format::kJpeg444,
                           format::kPixavant, format::kPixavantLossless}) {
        SCOPED_TRACE(code);
        const int16_t quality = code == format::kJpeg444 ? 2 : code == format::kPixavant ? -1 : 0;
        EXPECT_EQ(control.save(dir_.path() + "/missing/out", {int16_t(code), 0, quality}),
                  kErrWrite);
        Progress progress;
        EXPECT_EQ(FormatRegistry::instance().writerFor(code)->write(
                      "/dev/full", control.displayRaster(), {}, {code, quality, {}}, progress),
                  kErrWrite);
        rlimit old{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 3000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const int16_t status = control.save(out, {int16_t(code), 0, quality});
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(status, kErrWrite);
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"in.jpg", "out"}));
        EXPECT_EQ(testing::readBytes(out), earlier);
    }
}

}  // namespace
}  // namespace pixavant::imaging
