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
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <map>

#include "JpegFixtures.h"
#include "batch/BatchEngine.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::batch {
namespace {

const QString kWriteMessage = QStringLiteral("Error writing file, or disk is full");
const QString kGeneralMessage = QStringLiteral("Compression error.");

// A view that records what the engine shows and lets a test act between files.
class RecordingView : public HeadlessBatchView {
  public:
    QStringList work;
    QStringList sources;
    QStringList messages;
    QStringList converted;  // output paths
    int closes = 0;
    std::function<void(int convertedSoFar)> afterFile;

    int workCount() const override { return int(work.size()); }
    QString workEntry(int index) const override { return work.at(index); }
    int sourceCount() const override { return int(sources.size()); }
    QString sourceEntry(int index) const override { return sources.at(index); }
    void addSourceEntry(const QString& entry) override { sources.append(entry); }
    void showMessage(const QString& text, const QString&) override { messages.append(text); }
    void closeWindow() override { ++closes; }
    void fileConverted(const QString&, const QString& outputPath) override {
        converted.append(outputPath);
        if (afterFile)
            afterFile(int(converted.size()));
    }
};

QByteArray digest(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

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
        settings_ = CompressionSettings::defaults(sourceDir_);
        settings_.OutputDir = outputDir_;
        settings_.OutputExt = "JPG";
        settings_.FileFormat = imaging::format::kJpeg444;
        settings_.BitsPerPixel = 24;
        settings_.QualityFactor = 20;
        settings_.Dpi = 72;
        settings_.SizeChoice = 0;
    }

    // Writes a photo-like JPEG source and puts it on the work list.
    void addSource(const QString& name, int width = 64, int height = 48) {
        const QString path = sourceDir_ + name;
        ASSERT_TRUE(testing::writeBytes(
            path, testing::makeJpeg(testing::makePhotoLike(width, height, uint32_t(qHash(name))))));
        view_.work.append(" " + name);
        sourceDigests_[path] = digest(path);
    }

    // Every source written by addSource() still exists (possibly moved under `movedTo`) unchanged.
    void expectSourcesIntact(const QString& from = {}, const QString& movedTo = {}) {
        for (const auto& [path, sum] : sourceDigests_) {
            QString now = path;
            if (!from.isEmpty())
                now.replace(from, movedTo);
            EXPECT_EQ(digest(now), sum) << qPrintable(now);
        }
    }

    void expectFailedWith(const BatchEngine& engine, int32_t code, const QString& message,
                          const QString& file) {
        EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Failed);
        EXPECT_EQ(engine.errorCode(), code);
        EXPECT_EQ(view_.messages, QStringList{message});
        EXPECT_EQ(engine.failedFile(), file);
        EXPECT_EQ(view_.closes, 1);
    }

    int run(BatchEngine& engine) {
        engine.load();
        if (beforeRun_)
            beforeRun_();
        engine.timerEvent();
        return engine.errorCode();
    }

    QTemporaryDir root_;
    QString sourceDir_;
    QString outputDir_;
    CompressionSettings settings_;
    RecordingView view_;
    std::map<QString, QByteArray> sourceDigests_;
    std::function<void()> beforeRun_;
};

// Between the dialogs and the run the output directory is removed, or replaced by a file.
TEST_F(BatchFaults, OutputDirectoryGoneBeforeTheRun) {
    for (const bool replacedByFile : {false, true}) {
        SCOPED_TRACE(replacedByFile ? "replaced by a file" : "removed");
        view_ = RecordingView{};
        sourceDigests_.clear();
        addSource("a.jpg");
        addSource("b.jpg");
        const QString dir = outputDir_.chopped(1);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        beforeRun_ = [&] {
            ASSERT_TRUE(QDir(dir).removeRecursively());
            if (replacedByFile) {
                ASSERT_TRUE(testing::writeBytes(dir, "not a directory"));
            }
        };
        BatchEngine engine(view_, settings_, sourceDir_);
        run(engine);
        expectFailedWith(engine, imaging::kErrWrite, kWriteMessage, "a.jpg");
        EXPECT_TRUE(view_.converted.isEmpty());
        if (replacedByFile) {
            QFile file(dir);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(), "not a directory");
        } else {
            EXPECT_FALSE(QFileInfo::exists(dir));
        }
        expectSourcesIntact();
        EXPECT_EQ(entries(sourceDir_), (QStringList{"a.jpg", "b.jpg"}));
        QFile::remove(dir);
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
    BatchEngine engine(view_, settings_, sourceDir_);
    run(engine);
    const QStringList left = entries(outputDir_);
    if (root)
        setImmutable(outputDir_, false);
    else
        QFile::setPermissions(outputDir_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!locked)
        GTEST_SKIP() << "the file system cannot make the directory read-only for this user";

    expectFailedWith(engine, imaging::kErrWrite, kWriteMessage, "b.jpg");
    EXPECT_EQ(left, QStringList{"a.JPG"});  // no partial b.JPG, no temporary file, c not tried
    EXPECT_FALSE(digest(outputDir_ + "a.JPG").isEmpty());
    expectSourcesIntact();
}

// Runs `body` in a child process and returns what it wrote to `report` (a failure text when the
// child died).
QByteArray inChild(const std::function<QByteArray()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const QByteArray out = body();
        [[maybe_unused]] const auto written = ::write(fds[1], out.constData(), size_t(out.size()));
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        out.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "child died: " + QByteArray::number(status);
    return out;
}

// The disk fills while the third file is written: two small outputs fit, the large one does not.
// The file-size limit makes every write past it fail as on a full disk.
TEST_F(BatchFaults, DiskFullDuringASaveUnderAFileSizeLimit) {
    addSource("a.jpg");
    addSource("b.jpg");
    addSource("c.jpg", 1600, 1200);
    addSource("d.jpg");
    const QByteArray report = inChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG instead
        const rlimit limit{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        BatchEngine engine(view_, settings_, sourceDir_);
        run(engine);
        return QByteArray::number(engine.errorCode()) + "|" + view_.messages.join("/").toUtf8() +
               "|" + engine.failedFile().toUtf8();
    });
    EXPECT_EQ(report, "20005|" + kWriteMessage.toUtf8() + "|c.jpg");
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
    BatchEngine engine(view_, settings_, sourceDir_);
    run(engine);
    expectFailedWith(engine, imaging::kErrWrite, kWriteMessage, "b.jpg");
    EXPECT_EQ(entries(outputDir_), (QStringList{"a.JPG", "b.JPG"}));
    QFile earlier(outputDir_ + "b.JPG");
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "earlier output");
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
        view_ = RecordingView{};
        sourceDigests_.clear();
        QDir(sourceDir_).removeRecursively();
        QDir(outputDir_).removeRecursively();
        QDir().mkpath(sourceDir_);
        QDir().mkpath(outputDir_);
        addSource("a.jpg");
        addSource("b.jpg", 320, 240);
        addSource("c.jpg");
        const QString victim = sourceDir_ + "b.jpg";
        sourceDigests_.erase(victim);
        view_.afterFile = [&](int done) {
            if (done == 1)
                c.damage(victim);
        };
        BatchEngine engine(view_, settings_, sourceDir_);
        run(engine);
        expectFailedWith(engine, c.code, kGeneralMessage, "b.jpg");
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
        view_.closes = 0;
        beforeRun_ = [&] {
            ASSERT_TRUE(unreadable ? QFile::setPermissions(sourceDir_, QFile::WriteOwner)
                                   : QDir().rename(sourceDir_, moved));
        };
        BatchEngine engine(view_, settings_, sourceDir_);
        run(engine);
        if (unreadable)
            QFile::setPermissions(sourceDir_,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        else
            ASSERT_TRUE(QDir().rename(moved, sourceDir_));
        expectFailedWith(engine, imaging::kErrFileNotFound, kGeneralMessage, "a.jpg");
        EXPECT_TRUE(entries(outputDir_).isEmpty());
        expectSourcesIntact();
    }
}

}  // namespace
}  // namespace pixavant::batch
