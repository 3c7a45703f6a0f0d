// Verification floors: saves every image file found under the given directories as JPEG at each of
// its 26 levels and as lossy PIXAVANT at each of its 9 levels, reads each output back and reports,
// per level, the lowest PSNR of the pixels read back against those written (with the file that
// gave it), the median, and the floor the verification uses. Photographs are saved at 24 bits;
// files of up to 2 megapixels also at 16 bits, with a 256-colour palette and in gray, the depths
// whose dithering or banding costs a lossy codec the most.
//
//   verification_floors [DIR...]     default: /work/shared/testdata
//
// A level whose lowest figure falls below its floor is marked "BELOW".

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Verification.h"

using namespace pixavant::imaging;

namespace {

struct Sample {
    double psnr;
    std::string what;
};

constexpr double kSmallPixels = 2e6;

}  // namespace

int main(int argc, char** argv) {
    QStringList dirs;
    for (int i = 1; i < argc; ++i)
        dirs << QString::fromLocal8Bit(argv[i]);
    if (dirs.isEmpty())
        dirs << QStringLiteral("/work/shared/testdata");
    QStringList files;
    for (const QString& dir : dirs) {
        QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    files.sort();
    QTemporaryDir out;
    const QString target = out.filePath(QStringLiteral("out"));

    // (format, level) -> samples
    std::map<std::pair<int, int>, std::vector<Sample>> results;
    int images = 0;
    for (const QString& file : files) {
        ImagingControl control;
        if (control.load(file, 0) != kSuccess)
            continue;
        ++images;
        const double pixels = double(control.bitmapWidth()) * control.bitmapHeight();
        std::vector<int> depths = {24};
        if (pixels <= kSmallPixels)
            depths = {24, 16, 8, -8};  // -8: gray
        control.setVerifySaves(true);
        const std::string name = QFileInfo(file).fileName().toStdString();
        for (const int depth : depths) {
            ImagingControl depthControl;
            depthControl.setVerifySaves(true);
            if (depthControl.load(file, int16_t(std::abs(depth))) != kSuccess)
                continue;
            if (depth < 0 && depthControl.convertToGray() != kSuccess)
                continue;
            const std::string what = name + " @" + (depth < 0 ? "gray" : std::to_string(depth));
            for (int level = 0; level <= 25; ++level) {
                const int16_t status =
                    depthControl.save(target, {format::kJpeg444, 0, int16_t(2 + 10 * level)});
                if (status == kSuccess || status == kErrVerify)
                    results[{format::kJpeg444, level}].push_back(
                        {depthControl.lastVerification().psnr, what});
            }
            for (int level = 0; level <= 8; ++level) {
                const int16_t status =
                    depthControl.save(target, {format::kPixavant, 0, int16_t(-1 - level)});
                if (status == kSuccess || status == kErrVerify)
                    results[{format::kPixavant, level}].push_back(
                        {depthControl.lastVerification().psnr, what});
            }
        }
        std::fprintf(stderr, "%s\n", name.c_str());
    }

    std::printf("%d images from %s\n\n", images, qPrintable(dirs.join(QStringLiteral(", "))));
    std::printf("| format | level | quality factor | lowest PSNR (file) | median | floor |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (auto& [key, samples] : results) {
        const auto [code, level] = key;
        std::sort(samples.begin(), samples.end(),
                  [](const Sample& a, const Sample& b) { return a.psnr < b.psnr; });
        const int quality = code == format::kJpeg444 ? 2 + 10 * level : -1 - level;
        const double floor = psnrFloor(code, quality);
        const Sample& low = samples.front();
        std::printf("| %s | %d | %d | %.2f dB (%s) | %.2f dB | %.0f dB%s |\n",
                    code == format::kJpeg444 ? "JPEG" : "PIXAVANT", level, quality, low.psnr,
                    low.what.c_str(), samples[samples.size() / 2].psnr, floor,
                    low.psnr < floor ? " BELOW" : "");
    }
    return 0;
}
