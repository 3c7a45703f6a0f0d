// TIFF timings: file information and loading of the given files, then writing and reading a
// synthetic 12-megapixel image in every TIFF save format, and the page count of a file with 20000
// directories. Prints one line per measurement.
//
//   tiff_bench [FILE...]

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"

using namespace pixavant::imaging;
using Clock = std::chrono::steady_clock;

namespace {
double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Loads or saves with the progress notification on; reports the longest gap between two
// notifications (the longest time the window would go unserviced).
struct GapMeter {
    Clock::time_point last = Clock::now();
    double longest = 0;
    int endedAt = -1;  // the percent that ended the longest gap
    void attach(ImagingControl& control) {
        control.setEnableProgressEvent(true);
        control.onProgressStatus([this](int16_t percent) {
            const auto now = Clock::now();
            const double gap = std::chrono::duration<double, std::milli>(now - last).count();
            if (gap > longest) {
                longest = gap;
                endedAt = percent;
            }
            last = now;
        });
    }
    void reset() {
        last = Clock::now();
        longest = 0;
        endedAt = -1;
    }
};

void describe(const QString& path) {
    FileInfoRecord info;
    auto start = Clock::now();
    const int32_t result = readFileInfo(path, info);
    const double infoMs = msSince(start);
    ImagingControl control;
    GapMeter gaps;
    gaps.attach(control);
    start = Clock::now();
    const int status = control.load(path, 0);
    const double loadMs = msSince(start);
    std::printf(
        "%-40s info %d (%.2f ms) code %d %dx%d %d bpp %-12s %d dpi %d pages | load %d (%.1f ms, "
        "gap %.1f ms)\n",
        qPrintable(QFile(path).fileName().section('/', -1)), result, infoMs, info.Format,
        info.Width, info.Height, info.BitsPerPixel, qPrintable(info.Compression), info.XResolution,
        info.TotalPages, status, loadMs, gaps.longest);
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i)
        describe(QString::fromLocal8Bit(argv[i]));

    QTemporaryDir dir;
    // A smooth 4000 x 3000 picture with a little texture, written as 24-bit uncompressed first.
    const QString source = dir.filePath("source.tif");
    {
        Raster raster;
        raster.width = 4000;
        raster.height = 3000;
        raster.format = PixelFormat::Rgb8;
        raster.allocate();
        for (int y = 0; y < raster.height; ++y)
            for (int x = 0; x < raster.width; ++x) {
                uint8_t* p = raster.row(y) + 3 * x;
                p[0] = uint8_t(x / 16 + ((x * y) & 7));
                p[1] = uint8_t(y / 12);
                p[2] = uint8_t((x + y) / 28);
            }
        auto writer = makeTiffWriter();
        Progress none;
        writer->write(source, raster, {}, {3, 0, {}}, none);
    }
    ImagingControl control;
    GapMeter gaps;
    gaps.attach(control);
    auto start = Clock::now();
    int status = control.load(source, 0);
    std::printf(
        "load 12 MP uncompressed RGB: %d, %.1f ms, longest progress gap %.1f ms (before %d%%)\n",
        status, msSince(start), gaps.longest, gaps.endedAt);
    for (int code : {3, 17, 27, 28, 29}) {
        const QString out = dir.filePath(QString("out%1.tif").arg(code));
        gaps.reset();
        start = Clock::now();
        status = control.save(out, {int16_t(code), 0, 0});
        const double saveMs = msSince(start);
        const double saveGap = gaps.longest;
        const int saveAt = gaps.endedAt;
        ImagingControl again;
        GapMeter readGaps;
        readGaps.attach(again);
        start = Clock::now();
        const int loaded = again.load(out, 0);
        std::printf(
            "code %2d: save %d in %.1f ms (gap %.1f ms before %d%%), %lld bytes; load %d in %.1f "
            "ms "
            "(gap %.1f ms before %d%%)\n",
            code, status, saveMs, saveGap, saveAt, QFile(out).size(), loaded, msSince(start),
            readGaps.longest, readGaps.endedAt);
    }

    // 20000 pages of 1 x 1 pixel.
    const QString pages = dir.filePath("pages.tif");
    {
        Raster tiny;
        tiny.width = tiny.height = 1;
        tiny.format = PixelFormat::Gray8;
        tiny.allocate();
        QByteArray bytes("II*\0", 4);
        auto put16 = [&bytes](uint16_t v) { bytes.append(char(v & 255)).append(char(v >> 8)); };
        auto put32 = [&](uint32_t v) {
            put16(uint16_t(v & 0xffff));
            put16(uint16_t(v >> 16));
        };
        const int count = 20000;
        put32(8);
        const uint32_t dirBytes = 2 + 7 * 12 + 4;
        const uint32_t data = 8 + count * dirBytes;
        for (int d = 0; d < count; ++d) {
            put16(7);
            const uint16_t tags[7] = {256, 257, 258, 262, 273, 278, 279};
            const uint32_t values[7] = {1, 1, 8, 1, data, 1, 1};
            for (int t = 0; t < 7; ++t) {
                put16(tags[t]);
                put16(4);
                put32(1);
                put32(values[t]);
            }
            put32(d + 1 < count ? 8 + uint32_t(d + 1) * dirBytes : 0);
        }
        bytes.append('\x80');
        QFile file(pages);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
    FileInfoRecord info;
    start = Clock::now();
    const int32_t result = readFileInfo(pages, info);
    std::printf("20000-page file: info %d, %d pages reported, %.2f ms\n", result, info.TotalPages,
                msSince(start));
    return 0;
}
