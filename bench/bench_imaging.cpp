// Imaging benchmark: converts each photograph of a directory with the imaging control (load at
// native depth, save as JPEG code 10 at quality factor 2, 72 dpi) and with ImageMagick's
// `convert IN -quality 98 -sampling-factor 1x1 OUT` (the same quantisation tables: libjpeg
// quality 98 is a 4 % scale of the standard tables, which is what factor 2 gives), each run in a
// child process of its own so that peak memory is measured separately.
//
//   bench_imaging [DIR] [--repeat N]      DIR defaults to /work/shared/testdata/photos
//
// Reports megapixels per second and peak resident memory (ru_maxrss) of both tools, their ratios,
// and the longest gap between progress notifications while loading and saving the largest photo.

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/FileInfo.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"

using namespace pixavant::imaging;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Child: one load and one save, timings and progress gaps on stdout.
int runChild(const char* in, const char* out) {
    ImagingControl control;
    Clock::time_point last;
    double maxGap = 0;
    int notifications = 0;
    control.onProgressStatus([&](int16_t) {
        maxGap = std::max(maxGap, msSince(last));
        last = Clock::now();
        ++notifications;
    });
    control.setEnableProgressEvent(true);

    const auto loadStart = Clock::now();
    last = loadStart;
    const int16_t loaded = control.load(QString::fromLocal8Bit(in), 0);
    const double loadMs = msSince(loadStart);
    const double loadGap = std::max(maxGap, msSince(last));
    const int loadNotifications = notifications;
    if (loaded != kSuccess) {
        std::fprintf(stderr, "load %s: %d\n", in, loaded);
        return 1;
    }

    maxGap = 0;
    notifications = 0;
    const auto saveStart = Clock::now();
    last = saveStart;
    const int16_t saved =
        control.save(QString::fromLocal8Bit(out), {format::kJpeg444, 0, 2, {72, 72}});
    const double saveMs = msSince(saveStart);
    const double saveGap = std::max(maxGap, msSince(last));
    if (saved != kSuccess) {
        std::fprintf(stderr, "save %s: %d\n", out, saved);
        return 1;
    }
    std::printf("%.3f %.3f %.3f %.3f %d %d %d %d\n", loadMs, saveMs, loadGap, saveGap,
                loadNotifications, notifications, int(control.bitmapWidth()),
                int(control.bitmapHeight()));
    return 0;
}

struct Run {
    bool ok = false;
    double wallMs = 0;
    double cpuMs = 0;  // user + system
    long maxRssKb = 0;
    std::string output;  // the child's stdout
};

// Runs argv in a child process; wall time, peak memory and standard output.
Run runProcess(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    Run run;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.wallMs = msSince(start);
    run.maxRssKb = usage.ru_maxrss;
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The quantisation tables (DQT segments) of a JPEG file, concatenated.
QByteArray quantisationTables(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray d = file.readAll();
    QByteArray tables;
    qsizetype i = 2;
    while (i + 4 <= d.size() && uint8_t(d[i]) == 0xFF) {
        const uint8_t marker = uint8_t(d[i + 1]);
        const qsizetype length = (uint8_t(d[i + 2]) << 8) | uint8_t(d[i + 3]);
        if (marker == 0xDA)
            break;
        if (marker == 0xDB)
            tables += d.mid(i + 4, length - 2);
        i += 2 + length;
    }
    return tables;
}

struct Photo {
    QString path;
    int width = 0;
    int height = 0;
    double megapixels() const { return double(width) * height / 1e6; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv[2], argv[3]);

    QString directory = QStringLiteral("/work/shared/testdata/photos");
    int repeat = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            directory = QString::fromLocal8Bit(argv[i]);
    }

    std::vector<Photo> photos;
    const QStringList names =
        QDir(directory).entryList({"*.jpg", "*.jpeg", "*.JPG", "*.JPEG"}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        Photo photo{QDir(directory).filePath(name)};
        FileInfoRecord record;
        if (readFileInfo(photo.path, record) != kSuccess) {
            std::fprintf(stderr, "skipping %s: no file information\n", qPrintable(name));
            continue;
        }
        photo.width = record.Width;
        photo.height = record.Height;
        photos.push_back(photo);
    }
    if (photos.empty()) {
        std::fprintf(stderr, "no JPEG photographs in %s\n", qPrintable(directory));
        return 1;
    }
    QTemporaryDir temp;
    if (!temp.isValid())
        return 1;
    const std::string self =
        QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().toStdString();

    std::printf("%-34s %5s | %-20s %7s | %-11s %7s | %-11s %6s\n", "photo", "MP",
                "ours cpu/wall ms", "MB", "IM cpu/wall", "MB", "speed c/w", "memory");
    double totalMp = 0, oursCpu = 0, imCpu = 0, oursWall = 0, imWall = 0;
    long oursPeak = 0, imPeak = 0;
    double worstMemoryRatio = 0;
    qint64 oursBytes = 0, imBytes = 0;
    const Photo* largest = &photos.front();
    std::string largestChild;
    bool sameTables = true;
    for (const Photo& photo : photos) {
        const std::string in = photo.path.toStdString();
        const std::string oursOut = temp.filePath("ours.jpg").toStdString();
        const std::string imOut = temp.filePath("im.jpg").toStdString();
        // Best of the repeats, each measure on its own: the machine may be shared.
        Run ours, im;
        for (int r = 0; r < repeat; ++r) {
            Run a = runProcess({self, "--child", in, oursOut});
            Run b = runProcess({"convert", in, "-quality", "98", "-sampling-factor", "1x1", imOut});
            if (!a.ok || !b.ok) {
                std::fprintf(stderr, "%s: %s failed\n", in.c_str(), a.ok ? "convert" : "ours");
                return 1;
            }
            if (r == 0) {
                ours = a;
                im = b;
                continue;
            }
            if (a.wallMs < ours.wallMs) {
                ours.wallMs = a.wallMs;
                ours.output = a.output;
            }
            ours.cpuMs = std::min(ours.cpuMs, a.cpuMs);
            ours.maxRssKb = std::max(ours.maxRssKb, a.maxRssKb);
            im.wallMs = std::min(im.wallMs, b.wallMs);
            im.cpuMs = std::min(im.cpuMs, b.cpuMs);
            im.maxRssKb = std::max(im.maxRssKb, b.maxRssKb);
        }
        totalMp += photo.megapixels();
        oursCpu += ours.cpuMs;
        imCpu += im.cpuMs;
        oursWall += ours.wallMs;
        imWall += im.wallMs;
        oursPeak = std::max(oursPeak, ours.maxRssKb);
        imPeak = std::max(imPeak, im.maxRssKb);
        const double memoryRatio = double(ours.maxRssKb) / double(im.maxRssKb);
        worstMemoryRatio = std::max(worstMemoryRatio, memoryRatio);
        const QByteArray oursTables = quantisationTables(QString::fromStdString(oursOut));
        sameTables &= !oursTables.isEmpty() &&
                      oursTables == quantisationTables(QString::fromStdString(imOut));
        oursBytes += QFileInfo(QString::fromStdString(oursOut)).size();
        imBytes += QFileInfo(QString::fromStdString(imOut)).size();
        if (photo.megapixels() >= largest->megapixels()) {
            largest = &photo;
            largestChild = ours.output;
        }
        std::printf(
            "%-34s %5.1f | %8.0f / %-9.0f %7.1f | %5.0f/%-5.0f %7.1f | %4.2f/%-4.2f %6.2f\n",
            qPrintable(QFileInfo(photo.path).fileName().left(34)), photo.megapixels(), ours.cpuMs,
            ours.wallMs, ours.maxRssKb / 1024.0, im.cpuMs, im.wallMs, im.maxRssKb / 1024.0,
            im.cpuMs / ours.cpuMs, im.wallMs / ours.wallMs, memoryRatio);
    }
    std::printf("\nthroughput, best of %d, whole process (start-up included):\n", repeat);
    std::printf(
        "  cpu time:  ours %.1f MP/s, ImageMagick %.1f MP/s, ratio %.2fx (target >= 2.4x)\n",
        totalMp / (oursCpu / 1000), totalMp / (imCpu / 1000), imCpu / oursCpu);
    std::printf("  wall time: ours %.1f MP/s, ImageMagick %.1f MP/s, ratio %.2fx\n",
                totalMp / (oursWall / 1000), totalMp / (imWall / 1000), imWall / oursWall);
    std::printf(
        "peak memory: ours %.1f MB, ImageMagick %.1f MB, ratio %.2f (worst single file "
        "%.2f; target <= 0.5)\n",
        oursPeak / 1024.0, imPeak / 1024.0, double(oursPeak) / double(imPeak), worstMemoryRatio);
    std::printf("quantisation tables of factor 2 and ImageMagick -quality 98: %s\n",
                sameTables ? "identical in every file" : "DIFFERENT");
    std::printf(
        "output bytes: ours %lld, ImageMagick %lld (%.1f%%; ImageMagick optimises its Huffman "
        "tables)\n",
        (long long)oursBytes, (long long)imBytes, 100.0 * double(oursBytes) / double(imBytes));
    double loadMs = 0, saveMs = 0, loadGap = 0, saveGap = 0;
    int loadCount = 0, saveCount = 0;
    std::sscanf(largestChild.c_str(), "%lf %lf %lf %lf %d %d", &loadMs, &saveMs, &loadGap, &saveGap,
                &loadCount, &saveCount);
    std::printf(
        "largest photo %s (%.1f MP): load %.0f ms, %d notifications, longest gap %.1f ms; "
        "save %.0f ms, %d notifications, longest gap %.1f ms\n",
        qPrintable(QFileInfo(largest->path).fileName()), largest->megapixels(), loadMs, loadCount,
        loadGap, saveMs, saveCount, saveGap);
    return 0;
}
