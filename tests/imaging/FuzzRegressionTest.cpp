// Inputs the fuzz targets found faults with, kept so that the faults stay fixed. Each must give the
// file information or a failure code, and a load must succeed or fail cleanly.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "JpegFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {
namespace {

struct FuzzCase {
    const char* what;
    QByteArray bytes;
    int32_t infoResult;  // 1 or the failure code
};

QByteArray bytes(std::initializer_list<uint8_t> list) {
    QByteArray b;
    for (const uint8_t v : list)
        b.append(char(v));
    return b;
}

// Sun raster headers whose width times height overflowed the 64-bit size check.
const FuzzCase kCases[] = {
    {"sun raster, both sides 2^32 - 1",
     bytes({0x59, 0xa6, 0x6a, 0x95, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
            0xff, 0xff, 0xff, 0xff, 0xbf, 0xff, 0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10}),
     kErrNoMemory},
    {"sun raster cut short after the width",
     bytes({0x59, 0xa6, 0x6a, 0x95, 0xff, 0xff, 0xff, 0xff, 0xff, 0xcc}), kErrNoMemory},
    {"sun raster, 3 x 10^9 by 3.9 x 10^9",
     bytes({0x59, 0xa6, 0x6a, 0x95, 0xc6, 0x42, 0x53, 0x88, 0xe9, 0x07, 0x0c, 0xcb, 0x07, 0xd5,
            0x13, 0x4a, 0x58, 0x4c, 0x20}),
     kErrNoMemory},
    {"sun raster, 4.28 x 10^9 by 2.87 x 10^9",
     bytes({0x59, 0xa6, 0x6a, 0x95, 0xff, 0x00, 0x00, 0x00, 0xab, 0x00, 0x00,
            0x02, 0x01, 0x03, 0x03, 0x02, 0x04, 0x03, 0x05, 0x05, 0x04, 0x37,
            0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x00, 0x00, 0x00, 0x4a}),
     kErrNoMemory},
};

TEST(FuzzRegression, FoundInputsFailCleanly) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    int n = 0;
    for (const FuzzCase& c : kCases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.path() + QStringLiteral("/case%1.img").arg(++n);
        ASSERT_TRUE(testing::writeBytes(path, c.bytes));
        FileInfoRecord info;
        const int32_t result = readFileInfo(path, info);
        // A header this large is refused as too large; one cut short as damaged.
        EXPECT_TRUE(result == c.infoResult || result == kErrCorrupt || result == kErrFormat)
            << result;
        ImagingControl control;
        const int16_t load = control.load(path, 0, 0, 1);
        EXPECT_GE(load, kErrNoMemory);
        EXPECT_FALSE(control.hasImage());
    }
}

// The size check itself, at the edges of the field widths headers use.
TEST(FuzzRegression, SizeCheckNeverOverflows) {
    struct Size {
        int64_t width, height;
        int16_t expected;
    };
    const Size sizes[] = {
        {16384, 16384, kSuccess},  // exactly 2^28
        {16384, 16385, kErrNoMemory},
        {kMaxPixels, 1, kSuccess},
        {kMaxPixels + 1, 1, kErrNoMemory},
        {0xffffffffLL, 0xffffffffLL, kErrNoMemory},  // 32-bit fields: the product overflowed
        {INT64_MAX, INT64_MAX, kErrNoMemory},
        {1, INT64_MAX, kErrNoMemory},
        {0, 5, kErrCorrupt},
        {-1, -1, kErrCorrupt},
    };
    for (const Size& s : sizes)
        EXPECT_EQ(checkImageSize(s.width, s.height), s.expected) << s.width << " x " << s.height;
}

}  // namespace
}  // namespace pixavant::imaging
