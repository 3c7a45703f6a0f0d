#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "ImagingFixtures.h"
#include "RawNames.h"
#include "Unprivileged.h"
#include "imaging/FileNames.h"
#include "imaging/OutputFile.h"

namespace pixavant::imaging {
namespace {

TEST(FileNames, EveryNameComesBackAsTheBytesItWas) {
    struct Case {
        QByteArray bytes;
        bool utf8;
    };
    const Case cases[] = {
        {"plain.jpg", true},
        {"caf\xc3\xa9.jpg", true},
        {"\xf0\x9f\x93\xb7 camera.jpg", true},
        {"Caf\xe9.jpg", false},           // Latin-1
        {"\xc0\x80", false},              // an overlong NUL
        {"\xed\xa0\x80", false},          // an encoded surrogate
        {"\xed\xb3\xa9.jpg", false},      // the encoding of an escape itself
        {"cut \xe2\x82", false},          // a sequence cut short
        {"\xf5\x80\x80\x80", false},      // beyond U+10FFFF
        {"\x80\xbf", false},              // continuation bytes alone
        {"\xc3\xa9\xe9\xc3\xa9", false},  // mixed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        const QString name = decodeFileName(c.bytes);
        EXPECT_EQ(encodeFileName(name), c.bytes);
        EXPECT_EQ(hasRawBytes(name), !c.utf8);
        if (c.utf8) {
            // A UTF-8 name is what Qt makes of it, so the rest of the program agrees on it.
            EXPECT_EQ(name, QString::fromUtf8(c.bytes));
            EXPECT_EQ(QFile::encodeName(name), c.bytes);
        }
    }
    for (int byte = 1; byte < 256; ++byte) {
        const QByteArray bytes = QByteArray("a") + char(byte) + "b";
        EXPECT_EQ(encodeFileName(decodeFileName(bytes)), bytes) << byte;
    }
}

TEST(FileNames, UndecodableBytesAreShownEscaped) {
    EXPECT_EQ(displayFileName(decodeFileName("/photos/Caf\xe9.jpg")), "/photos/Caf\\xE9.jpg");
    EXPECT_EQ(displayFileName(decodeFileName("\xff\xfe")), "\\xFF\\xFE");
    EXPECT_EQ(displayFileName(QString::fromUtf8("caf\xc3\xa9 \\x41.jpg")),
              QString::fromUtf8("caf\xc3\xa9 \\x41.jpg"));
}

class RawNameTest : public testing::ImagingTest {
  protected:
    void SetUp() override {
        ImagingTest::SetUp();
        root_ = QFile::encodeName(dir_.path());
        source_ = write("source.jpg", testing::makeJpeg(testing::makePhotoLike(64, 48)));
        ASSERT_EQ(control_.load(source_, 0), kSuccess);
    }
    void TearDown() override {
        ImagingTest::TearDown();
        testing::removeTreeByBytes(dir_.path());
    }
    QByteArray root_;
    QString source_;
    ImagingControl control_;
};

TEST_F(RawNameTest, ALatin1FileIsReadAndWrittenByItsBytes) {
    const QByteArray folder = root_ + "/R\xe9sum\xe9";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    ASSERT_EQ(
        ::rename(QFile::encodeName(source_).constData(), (folder + "/Caf\xe9.jpg").constData()), 0);
    const QString source = decodeFileName(folder + "/Caf\xe9.jpg");

    const imaging::FileInfoRecord info = testing::infoOf(source);
    EXPECT_EQ(std::pair(info.Width, info.Height), std::pair(64, 48));
    ImagingControl control;
    ASSERT_EQ(control.load(source, 0), kSuccess);
    ASSERT_EQ(control.save(decodeFileName(folder + "/Caf\xe9.TIF"), {format::kTiffLzw, 0, 0}),
              kSuccess)
        << control.lastErrorDetail().toStdString();
    // The output under the very bytes, nothing else left behind, and it reads back.
    struct stat st {};
    ASSERT_EQ(::stat((folder + "/Caf\xe9.TIF").constData(), &st), 0);
    EXPECT_EQ(testing::countFilesByBytes(folder), 2);
    ImagingControl back;
    ASSERT_EQ(back.load(decodeFileName(folder + "/Caf\xe9.TIF"), 0), kSuccess);
    EXPECT_EQ(back.bitmapWidth(), 64);

    // The libraries see a descriptor's path that still tells the suffix.
    const ReadablePath readable(source);
    EXPECT_TRUE(readable.path().startsWith("/proc/self/fd/")) << readable.path().toStdString();
    EXPECT_EQ(QFileInfo(nameBehindPath(readable.path())).suffix(), "jpg");
}

TEST_F(RawNameTest, TemporaryNamesFitWhereverTheOutputNameFits) {
    // 255 bytes, the longest name a Linux folder takes; then two-byte letters up to 255 bytes.
    const QString longest = path(QString(251, QLatin1Char('x')) + ".TIF");
    const QString accented = path(QString(125, QChar(0xE9)) + "x.TIF");
    for (const QString& output : {longest, accented}) {
        EXPECT_EQ(control_.save(output, {format::kTiffLzw, 0, 0}), kSuccess)
            << control_.lastErrorDetail().toStdString();
        EXPECT_TRUE(QFileInfo(output).isFile());
    }
    // One byte more does not fit: said so, naming the output.
    const QString tooLong = path(QString(252, QLatin1Char('y')) + ".TIF");
    EXPECT_EQ(control_.save(tooLong, {format::kTiffLzw, 0, 0}), kErrWrite);
    EXPECT_EQ(control_.lastErrorDetail(), tooLong + " (name too long)");
    EXPECT_EQ(testing::countFilesByBytes(root_), 3);  // the source and the two outputs
}

TEST_F(RawNameTest, AFolderThatCannotBeWrittenIsSaidSo) {
    const QString locked = path("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    ASSERT_EQ(::chmod(root_.constData(), 0755), 0);
    const testing::UnprivilegedRun run = testing::runUnprivileged([&](QByteArray& text) {
        OutputFile output(locked + "/a.TIF");
        const int status = output.create();
        text = output.failure().toUtf8();
        return status == kErrWrite ? 0 : 1;
    });
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(QString::fromUtf8(run.text), locked + "/a.TIF (permission denied)");
}

TEST_F(RawNameTest, AFullDiskIsSaidSo) {
    const QString small = path("small");
    ASSERT_TRUE(QDir().mkpath(small));
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root): " << std::strerror(errno);
    ImagingControl control;
    ASSERT_EQ(
        control.load(write("large.jpg", testing::makeJpeg(testing::makePhotoLike(400, 300))), 0),
        kSuccess);
    const int16_t saved = control.save(small + "/large.TIF", {format::kTiff, 0, 0});
    const QString detail = control.lastErrorDetail();
    ::umount2(QFile::encodeName(small).constData(), MNT_DETACH);
    EXPECT_EQ(saved, kErrWrite);
    EXPECT_TRUE(detail.contains("no space left on the device")) << detail.toStdString();
    EXPECT_TRUE(detail.contains(small + "/large.TIF")) << detail.toStdString();
}

}  // namespace
}  // namespace pixavant::imaging
