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
#include <tuple>

#include "FakeBatchView.h"
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

class BatchFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        sourceDir_ = root_.path() + "/src/";
        outputDir_ = root_.path() + "/out/";
        ASSERT_TRUE(QDir().mkpath(sourceDir_));
        ASSERT_TRUE(QDir().mkpath(outputDir_));
        settings_ = CompressionSettings::defaults(outputDir_);
        settings_.OutputExt = "JPG";
        std::tie(settings_.FileFormat, settings_.BitsPerPixel, settings_.QualityFactor,
                 settings_.Dpi) = std::tuple(imaging::format::kJpeg444, 24, 20, 72);
    }

    // Empty source and output directories and a fresh view, for the next case of a table.
    void reset() {
        view_ = FakeBatchView{};
        sourceBytes_.clear();
        for (const QString& dir : {sourceDir_, outputDir_}) {
            QDir(dir).removeRecursively();
            QDir().mkpath(dir);
        }
    }

    // Writes a photo-like JPEG source and puts it on the work list.
    void addSource(const QString& name, int width = 64, int height = 48) {
        const QString path = sourceDir_ + name;
        ASSERT_TRUE(testing::writeBytes(
            path, testing::makeJpeg(testing::makePhotoLike(width, height, uint32_t(qHash(name))))));
        view_.work.append(" " + name);
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
        EXPECT_EQ(view_.messages, QStringList{message});
        EXPECT_EQ(engine.failedFile(), file);
        EXPECT_EQ(view_.calls.count("Close"), 1);
    }

    std::unique_ptr<BatchEngine> run() {
        auto engine = std::make_unique<BatchEngine>(view_, settings_, sourceDir_);
        engine->load();
        if (beforeRun_)
            beforeRun_();
        engine->timerEvent();
        return engine;
    }

    QTemporaryDir root_;
    QString sourceDir_;
    QString outputDir_;
    CompressionSettings settings_;
    FakeBatchView view_;
    std::map<QString, QByteArray> sourceBytes_;
    std::function<void()> beforeRun_;
};

// Between the dialogs and the run the output directory is removed, or replaced by a file.
TEST_F(BatchFaults, OutputDirectoryGoneBeforeTheRun) {
    for (const bool replacedByFile : {false, true}) {
        SCOPED_TRACE(replacedByFile ? "replaced by a file" : "removed");
        QFile::remove(outputDir_.chopped(1));
        reset();
        addSource("a.jpg");
        addSource("b.jpg");
        const QString dir = outputDir_.chopped(1);
        beforeRun_ = [&] {
            ASSERT_TRUE(QDir(dir).removeRecursively());
            if (replacedByFile) {
                ASSERT_TRUE(testing::writeBytes(dir, "not a directory"));
            }
        };
        const auto engine = run();
        expectFailedWith(*engine, imaging::kErrWrite, kWriteMessage, "a.jpg");
        EXPECT_EQ(view_.converted, 0);
        EXPECT_EQ(testing::readBytes(dir),
                  replacedByFile ? QByteArray("not a directory") : QByteArray());
        EXPECT_EQ(QFileInfo::exists(dir), replacedByFile);
        expectSourcesIntact();
        EXPECT_EQ(entries(sourceDir_), (QStringList{"a.jpg", "b.jpg"}));
    }
}

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
    const bool root = ::geteuid() == 0;
    bool locked = false;
    view_.afterFile = [&](int done) {
        if (done != 1)
            return;
        locked = root ? setImmutable(outputDir_, true)
                      : QFile::setPermissions(outputDir_, QFile::ReadOwner | QFile::ExeOwner);
    };
    const auto engine = run();
    const QStringList left = entries(outputDir_);
    if (root)
        setImmutable(outputDir_, false);
    else
        QFile::setPermissions(outputDir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!locked)
        GTEST_SKIP() << "the file system cannot make the directory read-only for this user";

    expectFailedWith(*engine, imaging::kErrWrite, kWriteMessage, "b.jpg");
    EXPECT_EQ(left, QStringList{"a.JPG"});  // no partial b.JPG, no temporary file, c not tried
    EXPECT_FALSE(testing::readBytes(outputDir_ + "a.JPG").isEmpty());
    expectSourcesIntact();
}

// The disk fills while the third file is written: two small outputs fit, the large one does not.
// The file-size limit makes every write past it fail as on a full disk.
TEST_F(BatchFaults, DiskFullDuringASaveUnderAFileSizeLimit) {
    addSource("a.jpg");
    addSource("b.jpg");
    addSource("c.jpg", 1600, 1200);
    addSource("d.jpg");
    // In a child process, which alone has the limit; it reports on its standard error.
    const auto underTheLimit = [&] {
        ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG instead
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const auto engine = run();
        std::fprintf(stderr, "[%d|%s|%s]", int(engine->errorCode()),
                     qPrintable(view_.messages.join('/')), qPrintable(engine->failedFile()));
        ::_exit(0);
    };
    EXPECT_EXIT(underTheLimit(), ::testing::ExitedWithCode(0),
                "\\[20005\\|Error writing file, or disk is full\\|c\\.jpg\\]");
    EXPECT_EQ(entries(outputDir_), (QStringList{"a.JPG", "b.JPG"}));
    expectSourcesIntact();
}

// The same on a real small file system, where the space runs out (needs the right to mount).
TEST_F(BatchFaults, DiskFullOnASmallFileSystem) {
    const QByteArray target = QFile::encodeName(outputDir_);
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
    ASSERT_TRUE(testing::writeBytes(outputDir_ + "b.JPG", "earlier output"));
    const auto engine = run();
    expectFailedWith(*engine, imaging::kErrWrite, kWriteMessage, "b.jpg");
    EXPECT_EQ(entries(outputDir_), (QStringList{"a.JPG", "b.JPG"}));
    EXPECT_EQ(testing::readBytes(outputDir_ + "b.JPG"), "earlier output");
    expectSourcesIntact();
}

// A source deleted, or cut short, after the scan (here: while the file before it is converted).
TEST_F(BatchFaults, SourceDeletedOrTruncatedAfterTheScan) {
    struct Case {
        const char* what;
        std::function<void(const QString&)> damage;
        int32_t code;
    };
    const Case cases[] = {
        {"deleted", [](const QString& path) { QFile::remove(path); }, imaging::kErrFileNotFound},
        {"truncated to its header",
         [](const QString& path) { ASSERT_TRUE(QFile::resize(path, 200)); }, imaging::kErrCorrupt},
        {"truncated to half",
         [](const QString& path) { ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() / 2)); },
         imaging::kErrCorrupt},
        {"emptied", [](const QString& path) { ASSERT_TRUE(QFile::resize(path, 0)); },
         imaging::kErrFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        addSource("a.jpg");
        addSource("b.jpg", 320, 240);
        addSource("c.jpg");
        const QString victim = sourceDir_ + "b.jpg";
        sourceBytes_.erase(victim);
        view_.afterFile = [&](int done) {
            if (done == 1)
                c.damage(victim);
        };
        const auto engine = run();
        expectFailedWith(*engine, c.code, kGeneralMessage, "b.jpg");
        EXPECT_EQ(entries(outputDir_), QStringList{"a.JPG"});
        expectSourcesIntact();
    }
}

// The source directory goes away (moved elsewhere) or becomes unreadable after the scan.
TEST_F(BatchFaults, SourceDirectoryGoneOrUnreadableAfterTheScan) {
    addSource("a.jpg");
    addSource("b.jpg");
    const QString moved = root_.path() + "/moved/";
    for (const bool unreadable : {false, true}) {
        SCOPED_TRACE(unreadable ? "unreadable" : "moved");
        if (unreadable && ::geteuid() == 0)
            continue;  // permissions do not stop root
        view_.messages.clear();
        view_.calls.clear();
        beforeRun_ = [&] {
            ASSERT_TRUE(unreadable ? QFile::setPermissions(sourceDir_, QFile::WriteOwner)
                                   : QDir().rename(sourceDir_, moved));
        };
        const auto engine = run();
        if (unreadable)
            QFile::setPermissions(sourceDir_,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        else
            ASSERT_TRUE(QDir().rename(moved, sourceDir_));
        expectFailedWith(*engine, imaging::kErrFileNotFound, kGeneralMessage, "a.jpg");
        EXPECT_TRUE(entries(outputDir_).isEmpty());
        expectSourcesIntact();
    }
}

}  // namespace
}  // namespace pixavant::batch
