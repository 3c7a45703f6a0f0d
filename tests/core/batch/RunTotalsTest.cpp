#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <tuple>

#include "batch/RunTotals.h"

namespace pixavant::batch {
namespace {

TEST(RunTotals, ByteCountsReadAsPeopleReadThem) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "0 bytes"},       {1, "1 byte"},          {999, "999 bytes"},
        {1000, "1.0 kB"},     {1049, "1.0 kB"},       {1050, "1.1 kB"},    // halves up
        {161234, "161.2 kB"}, {999949, "999.9 kB"},   {999950, "1.0 MB"},  // never "1000.0 kB"
        {3912345, "3.9 MB"},  {1234567890, "1.2 GB"}, {int64_t(5) << 40, "5.5 TB"},
        {-2500, "-2.5 kB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(byteCountText(bytes), QString(text)) << bytes;
}

TEST(RunTotals, TheLineSaysWhatWasSavedOrWhatGrew) {
    struct Case {
        RunTotals totals;
        int64_t listed;
        const char* line;
    };
    const auto totals = [](int64_t files, int64_t before, int64_t after) {
        RunTotals t;
        std::tie(t.files, t.bytesBefore, t.bytesAfter) = std::tuple(files, before, after);
        return t;
    };
    const Case cases[] = {
        {totals(4, 3900000, 1200000), 4,
         "Converted 4 files: 3.9 MB before, 1.2 MB after, 2.7 MB saved (69 %)"},
        {totals(1, 2000, 1000), 1,
         "Converted 1 file: 2.0 kB before, 1.0 kB after, 1.0 kB saved (50 %)"},
        // Some files not converted (a failure, a cancel): out of how many.
        {totals(2, 1000, 250), 5,
         "Converted 2 of 5 files: 1.0 kB before, 250 bytes after, 750 bytes "
         "saved (75 %)"},
        // 99.6 % is not called 100 %; a file that grew says so.
        {totals(1, 1000, 4), 1,
         "Converted 1 file: 1.0 kB before, 4 bytes after, 996 bytes saved (99 %)"},
        {totals(1, 1000, 1250), 1,
         "Converted 1 file: 1.0 kB before, 1.3 kB after, 250 bytes more (+25 %)"},
        {totals(2, 0, 0), 2, "Converted 2 files: 0 bytes before, 0 bytes after, 0 bytes saved"},
        {totals(0, 0, 0), 3, "No file converted."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(runTotalsText(c.totals, c.listed), QString(c.line));
    EXPECT_TRUE(bytesText(totals(0, 0, 0)).isEmpty());
}

TEST(RunTotals, CountsEachSourceOnceAndEveryOutputOfIt) {
    QTemporaryDir dir;
    const auto write = [&](const QString& name, int size) {
        QFile file(dir.path() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        return dir.path() + "/" + name;
    };
    const QString a = write("a.tif", 1000), b = write("b.tif", 3000);
    const QString aOut = write("a.JPG", 100), b1 = write("b-1.JPG", 200),
                  b2 = write("b-2.JPG", 300);
    RunTotals totals;
    totals.add(a, aOut);
    totals.add(b, b1);  // a document: one output per page
    totals.add(b, b2);
    totals.add(a, dir.path() + "/gone.JPG");  // a file listed again; an output no longer there
    EXPECT_EQ(std::tuple(totals.files, totals.bytesBefore, totals.bytesAfter),
              std::tuple(int64_t(3), int64_t(5000), int64_t(600)));
}

}  // namespace
}  // namespace pixavant::batch
