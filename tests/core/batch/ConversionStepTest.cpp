// One file's conversion, as the engine, the command line and the compare view ask for it: the
// resolution comes with the request, memory and files get the same bytes, and a stop leaves
// nothing behind.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <tuple>

#include "EngineFixtures.h"
#include "batch/BatchRules.h"
#include "batch/ConversionStep.h"
#include "imaging/FileInfo.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::batch {
namespace {

using namespace pixavant::testsupport;

class ConversionStepTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid() && QDir(tmp.path()).mkpath("out")); }

    // A request for `source` into out/, examined.
    ConversionRequest request(ConversionStep& step, const QString& source, int code, int16_t dpi,
                              const QString& ext) {
        ConversionRequest r;
        r.sourcePath = source;
        EXPECT_EQ(step.examine(source, r.source), 0);
        r.dpi = dpi;
        r.formatCode = int16_t(code);
        r.qualityFactor = int16_t(code == imaging::format::kPixavant ? -3 : 22);
        r.bitsPerPixel = int16_t(code == imaging::format::kTiffG4 ? 1 : 24);
        for (const QString& name : outputFileNames("doc." + ext, ext, r.source.pages, code))
            r.outputPaths << out + name;
        return r;
    }
    QStringList written() const { return QDir(out).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir tmp;
    const QString out = tmp.path() + "/out/";
};

// The resolution a file records is the request's, whatever a thread's extended options block
// says; an output into memory is byte for byte the file, and writes nothing.
TEST_F(ConversionStepTest, RequestResolutionIsWrittenAndMemoryEqualsTheFile) {
    const QString source = tmp.path() + "/doc.tif";
    ASSERT_TRUE(writeEngineDocument(source, {{80, 60, 3, 300, 300}, {40, 30, 1, 150, 150}}));
    imaging::ExtFileOptionBlock block{};
    imaging::writeInt32(&block[0], 600);
    imaging::writeInt32(&block[4], 600);
    ASSERT_EQ(imaging::L_SetExtFileOption(block.data()), 0);
    struct Case {
        int code;
        const char* ext;
        int16_t dpi;
    };
    for (const Case& c :
         {Case{imaging::format::kTiffLzw, "TIF", 150}, Case{imaging::format::kTiffG4, "TIF", 96},
          Case{imaging::format::kJpeg444, "JPG", 150},
          Case{imaging::format::kPixavantLossless, "JXL", 96}}) {
        SCOPED_TRACE(c.code);
        ConversionStep step;
        ConversionRequest r = request(step, source, c.code, c.dpi, c.ext);
        r.toMemory = true;
        const ConversionResult inMemory = step.run(r);
        ASSERT_TRUE(inMemory.ok()) << inMemory.reason().toStdString();
        EXPECT_TRUE(written().isEmpty());
        r.toMemory = false;
        const ConversionResult onDisk = step.run(r);
        ASSERT_TRUE(onDisk.ok()) << onDisk.reason().toStdString();
        ASSERT_EQ(onDisk.written.size(), inMemory.bytes.size());
        for (size_t i = 0; i < onDisk.written.size(); ++i) {
            QFile file(onDisk.written[i].path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_TRUE(file.readAll() == inMemory.bytes[i]) << i;
            imaging::FileInfoRecord info;
            ASSERT_EQ(imaging::readFileInfo(onDisk.written[i].path, info), imaging::kSuccess);
            EXPECT_EQ(std::tuple(info.XResolution, info.YResolution), std::tuple(c.dpi, c.dpi));
            file.remove();
        }
    }
    imaging::ExtFileOptionBlock after{};
    imaging::L_GetExtFileOption(after.data());
    EXPECT_EQ(imaging::readInt32(&after[0]), 600);  // the step reads the block, never sets it
}

// Stopped at any page, the file has no output at all (a damaged page: PagesTest).
TEST_F(ConversionStepTest, StopAtAnyPageWritesNothing) {
    const QString source = tmp.path() + "/doc.tif";
    ASSERT_TRUE(writeEngineDocument(
        source, {{200, 150, 0, 200, 200}, {200, 150, 0, 200, 200}, {200, 150, 0, 200, 200}}));
    for (const int code : {imaging::format::kTiffG4, imaging::format::kJpeg444}) {
        for (const int stopPage : {0, 1, 2}) {
            SCOPED_TRACE(std::to_string(code) + " stopped on page " + std::to_string(stopPage));
            ConversionStep step;
            std::atomic<bool> stop{false};
            step.setCancelFlag(&stop);
            step.control().setEnableProgressEvent(true);
            step.onProgress([&](int16_t, int page, bool) { stop = stop || page == stopPage; });
            const ConversionRequest r =
                request(step, source, code, 200, code == imaging::format::kJpeg444 ? "JPG" : "TIF");
            const ConversionResult result = step.run(r);
            EXPECT_EQ(result.status, imaging::kErrCancelled);
            EXPECT_TRUE(result.written.empty());
            EXPECT_TRUE(written().isEmpty()) << written().join(", ").toStdString();
        }
    }
}

}  // namespace
}  // namespace pixavant::batch
