// The compare view's update after a slider move: how long until the first view (a preview with the
// new choices: the whole picture reduced to the view when it is fitted, the part in view at 100 %)
// and until the exact bytes of the whole output, through the compare view's worker as the window
// drives it.
//
//   QT_QPA_PLATFORM=offscreen compare_update [FILE]
//   (default: the 24-megapixel photo of ../shared/testdata/photos)
//
// One line for opening (the file is loaded then), then one per slider move, in a fitted view:
// JPEG at levels 0, 5, 12 and 25, PIXAVANT at levels 0, 3 and 8; then JPEG at levels 12 and 25 at
// 100 %. The view is 960 x 540 pixels.

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>

#include "compare/CompareWorker.h"
#include "settings/CompressionChoices.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

struct Timing {
    double firstView = -1;
    double exact = -1;
    qint64 bytes = 0;
    QString failure;
};

Timing update(CompareWorker& worker, const CompareRequest& request) {
    Timing t;
    QElapsedTimer clock;
    bool done = false;
    QObject context;
    QObject::connect(&worker, &CompareWorker::shown, &context, [&](const CompareResult& r) {
        if (t.firstView < 0)
            t.firstView = double(clock.nsecsElapsed()) / 1e6;
        if (r.code != 0)
            t.failure = r.message + ' ' + r.details;
        if (!r.quick() || r.code != 0) {
            t.exact = double(clock.nsecsElapsed()) / 1e6;
            t.bytes = r.bytes;
            done = true;
        }
    });
    clock.start();
    worker.request(request);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                  : QStringLiteral(PIXAVANT_SOURCE_DIR
                                                   "/../shared/testdata/photos/"
                                                   "rachel-hisko-rEM3cK8F1pk-unsplash.jpg");
    if (!QFileInfo(path).isFile()) {
        std::fprintf(stderr, "no file %s\n", qPrintable(path));
        return 2;
    }
    CompareWorker worker;
    CompareRequest request;
    request.path = path;
    request.settings = CompressionSettings::defaults(QStringLiteral("/nowhere/"));
    request.settings.Dpi = 72;
    request.settings.BitsPerPixel = 24;
    request.viewWidth = 960;
    request.viewHeight = 540;

    struct Move {
        const char* what;
        int type;  // CompressionChoice
        int level;
        bool fitted;
    };
    const Move moves[] = {{"open, JPEG level 0", 3, 0, true}, {"JPEG level 5", 3, 5, true},
                          {"JPEG level 12", 3, 12, true},     {"JPEG level 25", 3, 25, true},
                          {"PIXAVANT level 0", 4, 0, true},   {"PIXAVANT level 3", 4, 3, true},
                          {"PIXAVANT level 8", 4, 8, true},   {"JPEG level 12", 3, 12, false},
                          {"JPEG level 25", 3, 25, false}};
    std::printf("%s\n%-20s %-7s %12s %12s %14s\n", qPrintable(QFileInfo(path).fileName()), "update",
                "view", "first view", "exact bytes", "bytes");
    bool first = true;
    for (const Move& move : moves) {
        request.settings.CompressionChoice = CompressionType(move.type);
        request.settings.FileFormat = *fileFormatFor(CompressionType(move.type), move.level);
        request.settings.QualityFactor = *qualityFactorFor(CompressionType(move.type), move.level);
        request.fitted = move.fitted;
        request.wantOriginal = first;
        first = false;
        const Timing t = update(worker, request);
        if (!t.failure.isEmpty()) {
            std::printf("%-20s failed: %s\n", move.what, qPrintable(t.failure));
            continue;
        }
        std::printf("%-20s %-7s %9.0f ms %9.0f ms %14lld\n", move.what,
                    move.fitted ? "fitted" : "100 %", t.firstView, t.exact,
                    static_cast<long long>(t.bytes));
    }
    return 0;
}
