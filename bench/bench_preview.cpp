// Preview timings: what a list click costs for each image file, from the file information to the
// painted preview, and the same for the viewer. The preview and the viewer decode only what their
// display needs; the full-size load is timed beside them for comparison.
//
//   bench_preview [FILE or DIRECTORY...]   (default: /work/shared/testdata/photos)
//
// One line per file: size, decoded size, information read, click (information read, then the
// preview's fit, load at display scale and paint) in wall-clock and processor time, the first
// click on the file (cold), the viewer, and a full-size load. Each figure is the best of three
// runs; the first (cold) run is shown too.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"
#include "inspect/Fit.h"
#include "inspect/ImageDisplay.h"

using namespace pixavant;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of the process: what a click costs whatever else the machine is doing.
double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Timing {
    double info = 0;
    double preview = 0;
    double viewer = 0;
    double full = 0;
    double previewCpu = 0;
    QSize decoded;
    bool ok = true;
};

// The click's steps: the panel's information read, then the preview's read, fit, load and paint.
Timing measure(const QString& path, ImageDisplay& preview, const PreviewBox& previewBox,
               ImageDisplay& viewer, const PreviewBox& viewerBox) {
    Timing t;
    auto start = Clock::now();
    const double cpuStart = cpuMs();
    imaging::FileInfoRecord record;
    t.ok = imaging::readFileInfo(path, record) == imaging::kSuccess;
    t.info = msSince(start);
    if (!t.ok)
        return t;

    start = Clock::now();
    preview.readFileInfo(path);
    preview.setDisplayMode(ImageDisplay::kScaleToFit);
    const auto fitted = fitPreview(preview.bitmapWidth(), preview.bitmapHeight(), previewBox);
    t.ok = fitted.has_value();
    if (t.ok) {
        preview.setControlGeometry(*fitted);
        t.ok = preview.load(path, 0) == 0;
        preview.grab();  // the paint, scaling included
    }
    t.preview = t.info + msSince(start);
    t.previewCpu = cpuMs() - cpuStart;
    t.decoded = preview.shownImage().size();

    start = Clock::now();
    if (viewer.readFileInfo(path) == 0) {
        if (const auto g = fitViewerImage(viewer.bitmapWidth(), viewer.bitmapHeight(), viewerBox)) {
            viewer.setControlGeometry(*g);
            viewer.load(path, 0);
            viewer.grab();
        }
    }
    t.viewer = msSince(start);

    start = Clock::now();
    imaging::ImagingControl full;
    full.load(path, 0);
    t.full = msSince(start);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList inputs = app.arguments().mid(1);
    if (inputs.isEmpty())
        inputs.append(QStringLiteral("/work/shared/testdata/photos"));
    QStringList files;
    for (const QString& input : inputs) {
        const QFileInfo info(input);
        if (info.isDir()) {
            for (const QFileInfo& entry : QDir(input).entryInfoList(QDir::Files, QDir::Name))
                files.append(entry.absoluteFilePath());
        } else {
            files.append(info.absoluteFilePath());
        }
    }

    // The two displays at their design geometry: 229 x 173 and 541 x 439 pixels.
    QWidget window;
    window.resize(544, 437);
    ImageDisplay preview(&window);
    preview.setGeometry(23, 250, 229, 173);
    const PreviewBox previewBox = preview.previewBox();
    QWidget viewerWindow;
    viewerWindow.resize(548, 499);
    ImageDisplay viewer(&viewerWindow);
    viewer.setGeometry(4, 4, 541, 439);
    const PreviewBox viewerBox = viewer.previewBox();

    std::printf("%-44s %11s %9s %7s %8s %8s %8s %8s %9s\n", "file", "size", "decoded", "info",
                "click", "cpu", "cold", "viewer", "fullsize");
    double worst = 0;
    double worstCpu = 0;
    double total = 0;
    for (const QString& file : files) {
        Timing best;
        Timing cold;
        for (int run = 0; run < 3; ++run) {
            const Timing t = measure(file, preview, previewBox, viewer, viewerBox);
            if (run == 0) {
                cold = best = t;
                continue;
            }
            best.info = std::min(best.info, t.info);
            best.preview = std::min(best.preview, t.preview);
            best.previewCpu = std::min(best.previewCpu, t.previewCpu);
            best.viewer = std::min(best.viewer, t.viewer);
            best.full = std::min(best.full, t.full);
        }
        const QString name = QFileInfo(file).fileName().left(44);
        if (!cold.ok) {
            std::printf("%-44s cannot be shown\n", qPrintable(name));
            continue;
        }
        std::printf("%-44s %5.0fx%-5.0f %4dx%-4d %5.1fms %6.1fms %6.1fms %6.1fms %6.1fms %7.1fms\n",
                    qPrintable(name), double(preview.bitmapWidth()), double(preview.bitmapHeight()),
                    best.decoded.width(), best.decoded.height(), best.info, best.preview,
                    best.previewCpu, cold.preview, best.viewer, best.full);
        worstCpu = std::max(worstCpu, best.previewCpu);
        worst = std::max(worst, cold.preview);
        total += best.preview;
    }
    std::printf(
        "click (information + preview): slowest cold %.1f ms, mean best %.1f ms, "
        "most processor time %.1f ms\n",
        worst, files.isEmpty() ? 0.0 : total / double(files.size()), worstCpu);
    return 0;
}
