// A verified run with a manifest, as `convert --verify --manifest` will do it: every file is
// loaded, saved with its output read back before it is put in place, and recorded in a manifest;
// prints per file the verification and the time the save and the check took.
//
//   verified_run OUTDIR MANIFEST CODE QUALITY FILE...
//   verified_run /tmp/out /tmp/out/run.jsonl 10 2 ../shared/testdata/photos/*
//
// Then `pixavant verify --manifest MANIFEST` checks the outputs' fixity.

#include <QFileInfo>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "batch/Manifest.h"
#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"

using namespace pixavant;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Saves once without and once with verification: the difference is what the check costs.
int convert(imaging::ImagingControl& control, const QString& output, int code, int quality,
            double& plain, double& verified) {
    auto start = Clock::now();
    control.setVerifySaves(false);
    if (const int status = control.save(output, {int16_t(code), 0, int16_t(quality), {72, 72}}))
        return status;
    plain = secondsSince(start);
    start = Clock::now();
    control.setVerifySaves(true);
    const int status = control.save(output, {int16_t(code), 0, int16_t(quality), {72, 72}});
    verified = secondsSince(start);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: verified_run OUTDIR MANIFEST CODE QUALITY FILE...\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const int code = std::atoi(argv[3]);
    const int quality = std::atoi(argv[4]);
    batch::ManifestWriter manifest;
    QString error;
    if (!manifest.open(QString::fromLocal8Bit(argv[2]), error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    imaging::ImagingControl control;
    int failures = 0;
    for (int i = 5; i < argc; ++i) {
        const QString source = QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath();
        const QString output = outDir + QLatin1Char('/') + QFileInfo(source).completeBaseName() +
                               QStringLiteral(".out");
        double plain = 0;
        double verified = 0;
        int status = control.load(source, 0);
        if (status == imaging::kSuccess)
            status = convert(control, output, code, quality, plain, verified);
        const imaging::Verification& check = control.lastVerification();
        std::printf("%-45s %-6s %8.2f dB (floor %4.1f)  save %.3f s, with check %.3f s  %s\n",
                    qPrintable(QFileInfo(source).fileName()),
                    status == imaging::kSuccess ? "passed" : "FAILED", check.psnr, check.floor,
                    plain, verified, check.detail.c_str());
        for (const std::string& note : control.notes())
            std::printf("    note: %s\n", note.c_str());
        if (status != imaging::kSuccess) {
            ++failures;
            continue;
        }
        if (!manifest.write(batch::describeConversion(source, output, code, check))) {
            std::fprintf(stderr, "the manifest cannot be written\n");
            return 1;
        }
    }
    return failures == 0 ? 0 : 1;
}
