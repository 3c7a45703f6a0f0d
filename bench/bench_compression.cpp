// Compression benchmark of the PIXAVANT formats.
//
//   bench_compression encode IN.pnm CODE QUALITY OUT.jxl [DECODED.pnm|- [EFFORT]]
//       Writes IN (binary PGM or PPM) with PIXAVANT's own writer (at EFFORT, default the format's
//       own) and prints "bytes seconds cpu_seconds"; with DECODED, also decodes OUT with
//       PIXAVANT's reader into a PNM for comparison.
//   bench_compression settings
//       Prints the encoder settings: "distance LEVEL D" and "effort 5 level LEVEL E" per lossy
//       level, "effort CODE E" for the lossless formats.
//   bench_compression efforts IN.pnm MODE [THREADS [FIRST LAST [PATCHES [GROUP]]]]
//       Encodes IN with libjxl at several efforts (MODE lossy: distance 1, efforts 3..7;
//       lossless: efforts 1..5; bilevel: efforts 5..9 on a 1-bit image) and prints the time and
//       size of each, with THREADS worker threads (0: on the calling thread only); FIRST and LAST
//       choose other efforts, PATCHES (0/1) and GROUP (modular group size 0..3: 128 to 1024 pixels)
//       override those libjxl settings.
//   bench_compression jxl IN.pnm OUT.jxl DISTANCE EFFORT [SETTING=VALUE...]
//       Encodes IN (sRGB) lossy with libjxl on the calling thread, with frame settings of
//       libjxl's by name (epf, gaborish, resampling, progressive_dc, patches, dots), to try
//       settings the writer does not use; prints "bytes cpu_seconds".
//
// bench_compression.py beside this file runs the whole comparison against JPEG and CCITT G4.

#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

#include <QCoreApplication>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixavantEncoding.h"

using namespace pixavant::imaging;
using Clock = std::chrono::steady_clock;

namespace {

// The CPU time of the whole process: every thread the encoder ran on.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

bool readPnm(const char* path, Raster& raster) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6'))
        return false;
    long fields[3] = {};
    qsizetype pos = 2;
    for (long& field : fields) {
        while (pos < bytes.size() && (std::isspace(uchar(bytes[pos])) || bytes[pos] == '#')) {
            if (bytes[pos] == '#')
                while (pos < bytes.size() && bytes[pos] != '\n')
                    ++pos;
            ++pos;
        }
        while (pos < bytes.size() && std::isdigit(uchar(bytes[pos])))
            field = field * 10 + (bytes[pos++] - '0');
    }
    ++pos;
    if (fields[2] != 255 || checkImageSize(fields[0], fields[1]) != kSuccess)
        return false;
    raster.width = int(fields[0]);
    raster.height = int(fields[1]);
    raster.format = bytes[1] == '5' ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    const size_t size = raster.rowBytes() * size_t(raster.height);
    if (size_t(bytes.size() - pos) < size)
        return false;
    raster.pixels.assign(bytes.begin() + pos, bytes.begin() + pos + qsizetype(size));
    return true;
}

bool writePnm(const QString& path, const Raster& raster) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray head = QStringLiteral("P%1\n%2 %3\n255\n")
                                .arg(raster.channels() == 1 ? 5 : 6)
                                .arg(raster.width)
                                .arg(raster.height)
                                .toLatin1();
    file.write(head);
    return file.write(reinterpret_cast<const char*>(raster.pixels.data()),
                      qint64(raster.pixels.size())) == qint64(raster.pixels.size());
}

int encodeCommand(char** argv, int argc) {
    Raster raster;
    if (!readPnm(argv[2], raster)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    const int code = std::atoi(argv[3]);
    const int quality = std::atoi(argv[4]);
    const QString out = QString::fromLocal8Bit(argv[5]);
    QFile(out).open(QIODevice::WriteOnly);
    // The longest time the window would go without a progress notification.
    auto last = Clock::now();
    double longestGap = 0;
    Progress progress([&](int) {
        const auto now = Clock::now();
        longestGap = std::max(longestGap, std::chrono::duration<double>(now - last).count());
        last = now;
        return true;
    });
    SaveRequest request{code, quality, {}};
    request.effort = argc > 7 ? std::atoi(argv[7]) : 0;
    const auto start = Clock::now();
    const double cpuStart = cpuSeconds();
    const int status = makePixavantWriter()->write(out, raster, {}, request, progress);
    const double cpu = cpuSeconds() - cpuStart;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (status != kSuccess) {
        std::fprintf(stderr, "write failed: %d\n", status);
        return 1;
    }
    std::printf("%lld %.4f %.4f\n", QFile(out).size(), seconds, cpu);
    std::fprintf(stderr, "longest time without progress: writing %.0f ms", longestGap * 1000);
    if (argc > 6 && std::strcmp(argv[6], "-") != 0) {
        FileHeader header;
        qint64 size = 0;
        DecodedImage image;
        longestGap = 0;
        last = Clock::now();
        const auto decodeStart = last;
        if (readFileHeader(out, header, size) != kSuccess ||
            makePixavantReader()->read(out, header, {}, image, progress) != kSuccess ||
            !writePnm(QString::fromLocal8Bit(argv[6]), image.raster)) {
            std::fprintf(stderr, "decode failed\n");
            return 1;
        }
        std::fprintf(stderr, ", reading %.0f ms (decode %.3f s)", longestGap * 1000,
                     std::chrono::duration<double>(Clock::now() - decodeStart).count());
    }
    std::fprintf(stderr, "\n");
    return 0;
}

int settingsCommand() {
    for (int level = 1; level <= 9; ++level)
        std::printf("distance %d %g\n", level - 1, double(lossyDistance(-level)));
    for (int level = 1; level <= 9; ++level)
        std::printf("effort %d level %d %d\n", format::kPixavant, level - 1,
                    defaultEffort(format::kPixavant, -level));
    for (const int code : {format::kPixavant1Bit, format::kPixavantLossless})
        std::printf("effort %d %d\n", code, defaultEffort(code));
    return 0;
}

// Runs the encoder to the end; the bytes, or an empty vector when it fails.
std::vector<uint8_t> drain(JxlEncoder* encoder) {
    std::vector<uint8_t> out(1 << 20);
    size_t used = 0;
    for (;;) {
        uint8_t* next = out.data() + used;
        size_t avail = out.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &avail);
        used = size_t(next - out.data());
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return {};
        out.resize(out.size() * 2);
    }
    out.resize(used);
    return out;
}

int effortsCommand(char** argv, int argc) {
    Raster raster;
    if (!readPnm(argv[2], raster)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    const std::string mode = argv[3];
    const size_t threads = argc > 4 ? size_t(std::atoi(argv[4])) : 0;
    const bool lossy = mode == "lossy";
    const bool bilevel = mode == "bilevel";
    const int first = argc > 5 ? std::atoi(argv[5]) : lossy ? 3 : bilevel ? 5 : 1;
    const int last = argc > 6 ? std::atoi(argv[6]) : lossy ? 7 : bilevel ? 9 : 5;
    if (bilevel) {
        if (raster.channels() != 1)
            return 2;
        for (uint8_t& v : raster.pixels)
            v = v < 128 ? 0 : 255;
    }
    std::printf("%s %dx%d, %zu threads\n", mode.c_str(), raster.width, raster.height, threads);
    for (int effort = first; effort <= last; ++effort) {
        JxlEncoder* encoder = JxlEncoderCreate(nullptr);
        void* runner = threads > 0 ? JxlThreadParallelRunnerCreate(nullptr, threads) : nullptr;
        if (runner)
            JxlEncoderSetParallelRunner(encoder, JxlThreadParallelRunner, runner);
        JxlEncoderUseContainer(encoder, JXL_TRUE);
        JxlBasicInfo info;
        JxlEncoderInitBasicInfo(&info);
        info.xsize = uint32_t(raster.width);
        info.ysize = uint32_t(raster.height);
        info.bits_per_sample = bilevel ? 1 : 8;
        info.num_color_channels = uint32_t(raster.channels());
        info.uses_original_profile = lossy ? JXL_FALSE : JXL_TRUE;
        JxlEncoderSetBasicInfo(encoder, &info);
        JxlColorEncoding colour{};
        JxlColorEncodingSetToSRGB(&colour, raster.channels() == 1);
        JxlEncoderSetColorEncoding(encoder, &colour);
        JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
        if (lossy)
            JxlEncoderSetFrameDistance(settings, 1.0f);
        else
            JxlEncoderSetFrameLossless(settings, JXL_TRUE);
        JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, effort);
        if (argc > 7)
            JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_PATCHES,
                                             std::atoi(argv[7]));
        if (argc > 8)
            JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_MODULAR_GROUP_SIZE,
                                             std::atoi(argv[8]));
        const JxlPixelFormat format{uint32_t(raster.channels()), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN,
                                    0};
        const auto start = Clock::now();
        JxlEncoderAddImageFrame(settings, &format, raster.pixels.data(), raster.pixels.size());
        JxlEncoderCloseInput(encoder);
        const std::vector<uint8_t> out = drain(encoder);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        std::printf("effort %d: %s %zu bytes %.3f s (%.1f MP/s)\n", effort,
                    out.empty() ? "FAILED" : "ok", out.size(), seconds,
                    double(raster.width) * raster.height / 1e6 / seconds);
        std::fflush(stdout);
        if (runner)
            JxlThreadParallelRunnerDestroy(runner);
        JxlEncoderDestroy(encoder);
    }
    return 0;
}

int jxlCommand(char** argv, int argc) {
    Raster raster;
    if (!readPnm(argv[2], raster)) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    const struct {
        const char* name;
        JxlEncoderFrameSettingId id;
    } known[] = {
        {"epf", JXL_ENC_FRAME_SETTING_EPF},
        {"gaborish", JXL_ENC_FRAME_SETTING_GABORISH},
        {"resampling", JXL_ENC_FRAME_SETTING_RESAMPLING},
        {"progressive_dc", JXL_ENC_FRAME_SETTING_PROGRESSIVE_DC},
        {"patches", JXL_ENC_FRAME_SETTING_PATCHES},
        {"dots", JXL_ENC_FRAME_SETTING_DOTS},
    };
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(raster.width);
    info.ysize = uint32_t(raster.height);
    info.num_color_channels = uint32_t(raster.channels());
    JxlEncoderSetBasicInfo(encoder, &info);
    JxlColorEncoding colour{};
    JxlColorEncodingSetToSRGB(&colour, raster.channels() == 1);
    JxlEncoderSetColorEncoding(encoder, &colour);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    bool ok = JxlEncoderSetFrameDistance(settings, float(std::atof(argv[4]))) == JXL_ENC_SUCCESS &&
              JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT,
                                               std::atoi(argv[5])) == JXL_ENC_SUCCESS;
    for (int i = 6; ok && i < argc; ++i) {
        const std::string setting = argv[i];
        const size_t equals = setting.find('=');
        ok = false;
        for (const auto& k : known) {
            if (setting.compare(0, equals, k.name) == 0 && equals == std::strlen(k.name))
                ok =
                    JxlEncoderFrameSettingsSetOption(
                        settings, k.id, std::atoi(setting.c_str() + equals + 1)) == JXL_ENC_SUCCESS;
        }
        if (!ok)
            std::fprintf(stderr, "setting not taken: %s\n", argv[i]);
    }
    const JxlPixelFormat format{uint32_t(raster.channels()), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    const double cpuStart = cpuSeconds();
    ok = ok && JxlEncoderAddImageFrame(settings, &format, raster.pixels.data(),
                                       raster.pixels.size()) == JXL_ENC_SUCCESS;
    JxlEncoderCloseInput(encoder);
    const std::vector<uint8_t> out = ok ? drain(encoder) : std::vector<uint8_t>{};
    const double cpu = cpuSeconds() - cpuStart;
    JxlEncoderDestroy(encoder);
    QFile file(QString::fromLocal8Bit(argv[3]));
    if (out.empty() || !file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(out.data()), qint64(out.size())) !=
            qint64(out.size())) {
        std::fprintf(stderr, "encode failed\n");
        return 1;
    }
    std::printf("%zu %.4f\n", out.size(), cpu);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 6 && std::strcmp(argv[1], "encode") == 0)
        return encodeCommand(argv, argc);
    if (argc >= 4 && std::strcmp(argv[1], "efforts") == 0)
        return effortsCommand(argv, argc);
    if (argc >= 6 && std::strcmp(argv[1], "jxl") == 0)
        return jxlCommand(argv, argc);
    if (argc == 2 && std::strcmp(argv[1], "settings") == 0)
        return settingsCommand();
    std::fprintf(stderr,
                 "usage: %s encode IN.pnm CODE QUALITY OUT.jxl [DECODED.pnm|- [EFFORT]]\n"
                 "       %s settings\n"
                 "       %s efforts IN.pnm lossy|lossless|bilevel [THREADS [FIRST LAST [PATCHES "
                 "[GROUP]]]]\n"
                 "       %s jxl IN.pnm OUT.jxl DISTANCE EFFORT [SETTING=VALUE...]\n",
                 argv[0], argv[0], argv[0], argv[0]);
    return 2;
}
