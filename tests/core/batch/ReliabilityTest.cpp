// Faults of the file system during a batch run: the output directory gone, refused or full, a
// source that vanishes or shrinks after the scan, a source directory that disappears. Each ends the
// run with the message of its code, leaves no partial or temporary file, and keeps every earlier
// output and every source as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <tuple>

#include "EngineRunTest.h"
#include "JpegFixtures.h"
#include "batch/BatchEngine.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::batch {
namespace {

using test::FakeBatchView;

const QString kWriteMessage = QStringLiteral("Error writing file, or disk is full");
const QString kGeneralMessage = QStringLiteral("Compression error.");

// Every entry of a directory, hidden ones included (temporary outputs start with a dot).
QStringList entries(const QString& dir) {
    return QDir(dir).entryList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

class BatchFaults : public test::EngineRunTest {
  protected:
    void SetUp() override {
        EngineRunTest::SetUp();
        settings.QualityFactor = 20;
    }

    // Empty source and output directories and a fresh view, for the next case of a table.
    void reset() {
        view = FakeBatchView{};
        sourceBytes_.clear();
        for (const QString& dir : {src, out}) {
            QDir(dir).removeRecursively();
            QDir().mkpath(dir);
        }
    }

    // Writes a photo-like JPEG source and puts it on the work list.
    void addSource(const QString& name, int width = 64, int height = 48) {
        const QString path = src + name;
        ASSERT_TRUE(testing::writeBytes(
            path, testing::makeJpeg(testing::makePhotoLike(width, height, uint32_t(qHash(name))))));
        view.work.append(" " + name);
        sourceBytes_[path] = testing::readBytes(path);
    }

    // Every source written by addSource() still exists unchanged.
    void expectSourcesIntact() {
        for (const auto& [path, bytes] : sourceBytes_)
            EXPECT_EQ(testing::readBytes(path), bytes) << qPrintable(path);
    }

    void expectFailedWith(const BatchEngine& engine, int32_t code, const QString& message,
                          const QString& file) {
        EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Failed);
        EXPECT_EQ(engine.errorCode(), code);
        EXPECT_EQ(view.messages, QStringList{message});
        EXPECT_EQ(engine.failedFile(), file);
        EXPECT_EQ(view.calls.count("Close"), 1);
    }

    std::unique_ptr<BatchEngine> run() {
        auto engine = std::make_unique<BatchEngine>(view, settings, src);
        engine->load();
        if (beforeRun_)
            beforeRun_();
        engine->timerEvent();
        return engine;
    }

    std::map<QString, QByteArray> sourceBytes_;
    std::function<void()> beforeRun_;
};

// Sets or clears the immutable attribute (nothing may be created in the directory, not even by
// root). Returns false when the file system does not support it.
bool setImmutable(const QString& path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// The output directory stops accepting files after the first output: write permission taken away
// for an ordinary user; for root (whom permissions do not stop) the directory is made immutable.
TEST_F(BatchFaults, OutputDirectoryRefusesWritesMidRun) {
    addSource("a.jpg");
    addSource("b.jpg");
    addSource("c.jpg");
    const auto lock = [&](bool on) {
        const QFile::Permissions writable = on ? QFile::Permissions() : QFile::WriteOwner;
        return ::geteuid() == 0
                   ? setImmutable(out, on)
                   : QFile::setPermissions(out, QFile::ReadOwner | QFile::ExeOwner | writable);
    };
    bool locked = false;
    view.afterFile = [&](int done) { locked = locked || (done == 1 && lock(true)); };
    const auto engine = run();
    const QStringList left = entries(out);
    lock(false);
    if (!locked)
        GTEST_SKIP() << "the file system cannot make the directory read-only for this user";

    expectFailedWith(*engine, imaging::kErrWrite, kWriteMessage, "b.jpg");
    EXPECT_EQ(left, QStringList{"a.JPG"});  // no partial b.JPG, no temporary file, c not tried
    EXPECT_FALSE(testing::readBytes(out + "a.JPG").isEmpty());
    expectSourcesIntact();
}

// The disk fills while the third file is written: two small outputs fit, the large one does not.
// The file-size limit makes every write past it fail as on a full disk.
TEST_F(BatchFaults, DiskFullDuringASaveUnderAFileSizeLimit) {
    addSource("a.jpg");
    addSource("b.jpg");
    addSource("c.jpg", 1600, 1200);
    addSource("d.jpg");
    // An earlier output of the large file's name survives the failed save unchanged.
    ASSERT_TRUE(testing::writeBytes(out + "c.JPG", "earlier output"));
    // In a child process, which alone has the limit; it reports on its standard error.
    const auto underTheLimit = [&] {
        ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG instead
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto engine = run();
        std::fprintf(stderr, "[%d|%s|%s]", int(engine->errorCode()),
                     qPrintable(view.messages.join('/')), qPrintable(engine->failedFile()));
        ::_exit(0);
    };
    EXPECT_EXIT(underTheLimit(), ::testing::ExitedWithCode(0),
                "\\[20005\\|Error writing file, or disk is full\\|c\\.jpg\\]");
    EXPECT_EQ(entries(out), (QStringList{"a.JPG", "b.JPG", "c.JPG"}));
    EXPECT_EQ(testing::readBytes(out + "c.JPG"), "earlier output");
    expectSourcesIntact();
}

// The same on a real small file system, where the space runs out (needs the right to mount).
TEST_F(BatchFaults, DiskFullOnASmallFileSystem) {
    const QByteArray target = QFile::encodeName(out);
    if (::mount("tmpfs", target.constData(), "tmpfs", 0, "size=96k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{target};
    addSource("a.jpg");
    addSource("b.jpg", 1600, 1200);
    addSource("c.jpg");
    // An existing output of the large file's name must survive the failed save unchanged.
    ASSERT_TRUE(testing::writeBytes(out + "b.JPG", "earlier output"));
    const auto engine = run();
    expectFailedWith(*engine, imaging::kErrWrite, kWriteMessage, "b.jpg");
    EXPECT_EQ(entries(out), (QStringList{"a.JPG", "b.JPG"}));
    EXPECT_EQ(testing::readBytes(out + "b.JPG"), "earlier output");
    expectSourcesIntact();
}

// Between the scan and the run, or while the file before it is converted, the output directory is
// removed or replaced by a file, a source is deleted or cut short (a JPEG cut short is damaged, not
// gray at its end), or the source directory moves away or becomes unreadable.
TEST_F(BatchFaults, WhatGoesAwayAfterTheScanEndsTheRunAtItsFile) {
    const QString outFolder = out.chopped(1), moved = tmp.path() + "/moved", b = src + "b.jpg";
    const auto cutTo = [&](qint64 size) {  // -1: half
        return
            [&, size] { ASSERT_TRUE(QFile::resize(b, size < 0 ? QFileInfo(b).size() / 2 : size)); };
    };
    const auto unlock = [&] {
        QFile::setPermissions(src, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    struct Case {
        const char* what;
        bool whileTheFirstIsConverted;  // else between the scan and the run
        std::function<void()> damage, repair;
        int32_t code;
        const char* failedFile;
    };
    const Case cases[] = {
        {"output directory removed",
         false,
         [&] { QDir(outFolder).removeRecursively(); },
         {},
         imaging::kErrWrite,
         "a.jpg"},
        {"output directory replaced by a file", false,
         [&] {
             QDir(outFolder).removeRecursively();
             testing::writeBytes(outFolder, "not a directory");
         },
         [&] {
             EXPECT_EQ(testing::readBytes(outFolder), "not a directory");
             QFile::remove(outFolder);
         },
         imaging::kErrWrite, "a.jpg"},
        {"source deleted", true, [&] { QFile::remove(b); }, {}, imaging::kErrFileNotFound, "b.jpg"},
        {"source cut to its header", true, cutTo(200), {}, imaging::kErrCorrupt, "b.jpg"},
        {"source cut to half", true, cutTo(-1), {}, imaging::kErrCorrupt, "b.jpg"},
        {"source emptied", true, cutTo(0), {}, imaging::kErrFormat, "b.jpg"},
        {"source directory moved", false, [&] { QDir().rename(src, moved); },
         [&] { QDir().rename(moved, src); }, imaging::kErrFileNotFound, "a.jpg"},
        {"source directory unreadable", false,
         [&] { QFile::setPermissions(src, QFile::WriteOwner); }, unlock, imaging::kErrFileNotFound,
         "a.jpg"},
    };
    for (const Case& c : cases) {
        if (::geteuid() == 0 && std::string_view(c.what).ends_with("unreadable"))
            continue;  // permissions do not stop root
        SCOPED_TRACE(c.what);
        reset();
        addSource("a.jpg");
        addSource("b.jpg", 320, 240);
        addSource("c.jpg");
        beforeRun_ = c.whileTheFirstIsConverted ? std::function<void()>() : c.damage;
        if (c.whileTheFirstIsConverted) {
            sourceBytes_.erase(b);
            view.afterFile = [&](int done) {
                if (done == 1)
                    c.damage();
            };
        }
        const auto engine = run();
        if (c.repair)
            c.repair();
        expectFailedWith(*engine, c.code,
                         c.code == imaging::kErrWrite ? kWriteMessage : kGeneralMessage,
                         c.failedFile);
        EXPECT_EQ(entries(out), c.whileTheFirstIsConverted ? QStringList{"a.JPG"} : QStringList());
        expectSourcesIntact();
    }
}

}  // namespace
}  // namespace pixavant::batch
