// Times the pixel operations on a 12-megapixel image and, given a directory, the GraphicsMagick
// reader on every file in it.
//   pixel_ops_bench [directory]
#include <QCoreApplication>
#include <QDir>
#include <chrono>
#include <cstdio>
#include <random>

#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixelOps.h"

using namespace pixavant::imaging;
using Clock = std::chrono::steady_clock;

template <typename F>
double timeMs(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Raster photo;
    photo.width = 4000;
    photo.height = 3000;
    photo.format = PixelFormat::Rgb8;
    if (!photo.allocate())
        return 1;
    std::mt19937 random(1);
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x) {
            uint8_t* p = photo.row(y) + x * 3;
            const int noise = int(random() % 16);
            p[0] = uint8_t((x * 255 / photo.width + noise) & 255);
            p[1] = uint8_t((y * 255 / photo.height + noise) & 255);
            p[2] = uint8_t(((x + y) * 127 / 7000 + noise) & 255);
        }

    Raster half = photo;
    std::printf("resample 4000x3000 -> 2000x1500 (Lanczos): %.0f ms\n",
                timeMs([&] { resample(half, 2000, 1500); }));
    Raster out;
    std::printf("depth 8 (256-colour palette), 12 MP:       %.0f ms\n",
                timeMs([&] { convertDepth(photo, 8, out); }));
    std::printf("depth 1 (Floyd-Steinberg), 12 MP:          %.0f ms\n",
                timeMs([&] { convertDepth(photo, 1, out); }));
    std::printf("depth 16 (5 bits per channel), 12 MP:      %.0f ms\n",
                timeMs([&] { convertDepth(photo, 16, out); }));
    std::printf("orientation 6, 12 MP:                      %.0f ms\n",
                timeMs([&] { applyOrientation(half, 6); }));

    if (argc < 2)
        return 0;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        const QString path = dir.filePath(name);
        FileHeader header;
        qint64 size = 0;
        if (readFileHeader(path, header, size) != kSuccess)
            continue;
        FormatReader* reader = FormatRegistry::instance().readerFor(header);
        if (reader == nullptr)
            continue;
        FileInfoRecord info;
        DecodedImage image;
        Progress progress;
        int infoStatus = 0, readStatus = 0;
        const double infoMs = timeMs([&] { infoStatus = readFileInfo(path, info); });
        const double readMs =
            timeMs([&] { readStatus = reader->read(path, header, {}, image, progress); });
        std::printf("%-32s info %d (%.1f ms)  read %d %dx%d (%.1f ms)\n", qPrintable(name),
                    infoStatus, infoMs, readStatus, image.raster.width, image.raster.height,
                    readMs);
    }
    return 0;
}
