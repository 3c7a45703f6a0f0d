#include "imaging/OutputFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "imaging/FileNames.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {

constexpr char kTempEnding[] = ".XXXXXX";  // the random part, replaced
constexpr int kTempExtra = 1 + 7;          // the leading dot and kTempEnding
constexpr int kAttempts = 100;

// The longest name the folder takes, in bytes.
long nameLimit(int dirFd) {
    const long limit = ::fpathconf(dirFd, _PC_NAME_MAX);
    return limit > kTempExtra ? limit : 255;
}

// `name` cut to at most `bytes` bytes, never inside a UTF-8 sequence.
QByteArray cutName(const QByteArray& name, qsizetype bytes) {
    if (name.size() <= bytes)
        return name;
    qsizetype end = bytes;
    while (end > 0 && (uint8_t(name[end]) & 0xC0) == 0x80)
        --end;
    return name.left(end);
}

}  // namespace

OutputFile::OutputFile(QString finalPath) : finalPath_(std::move(finalPath)) {}

OutputFile::OutputFile(InMemory) : inMemory_(true) {}

OutputFile::~OutputFile() {
    if (memoryFd_ >= 0)
        ::close(memoryFd_);
    if (!committed_ && !tempName_.isEmpty())
        ::unlinkat(dirFd_, tempName_.constData(), 0);
    if (dirFd_ >= 0)
        ::close(dirFd_);
}

Status OutputFile::fail(int error) {
    failure_ = QStringLiteral("%1 (%2)").arg(displayFileName(finalPath_), failureCause(error));
    return kErrWrite;
}

Status OutputFile::create() {
    if (inMemory_) {
        if (memoryFd_ < 0)
            memoryFd_ = ::memfd_create("pixavant-output", MFD_CLOEXEC);
        if (memoryFd_ < 0)
            return fail(errno);
        tempPath_ = QStringLiteral("/proc/self/fd/%1").arg(memoryFd_);
        return kSuccess;
    }
    const qsizetype slash = finalPath_.lastIndexOf(QLatin1Char('/'));
    const QString name = finalPath_.mid(slash + 1);
    if (finalPath_.isEmpty() || name.isEmpty())
        return fail(EISDIR);
    QString dir = slash < 0 ? QStringLiteral(".") : finalPath_.left(slash);
    if (dir.isEmpty())
        dir = QStringLiteral("/");
    dirFd_ = ::open(encodeFileName(dir).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0)
        return fail(errno);
    finalName_ = encodeFileName(name);
    const long limit = nameLimit(dirFd_);
    if (finalName_.size() > limit)
        return fail(ENAMETOOLONG);

    // The final name, cut so that the temporary name fits too; a generic one when the name is not
    // UTF-8 (the libraries open the temporary file by a path Qt has encoded).
    const QByteArray stem = hasRawBytes(name) ? QByteArrayLiteral("pixavant") : finalName_;
    const QByteArray pattern = '.' + cutName(stem, limit - kTempExtra) + kTempEnding;
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QByteArray candidate = pattern;
        for (qsizetype i = candidate.size() - 6; i < candidate.size(); ++i)
            candidate[i] = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters) - 1)];
        // Created with the permissions a new file gets (the umask applies).
        const int fd =
            ::openat(dirFd_, candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(errno);
        }
        ::close(fd);
        tempName_ = candidate;
        const QString tempName = QString::fromUtf8(candidate);
        tempPath_ =
            hasRawBytes(dir)
                ? QStringLiteral("/proc/self/fd/%1/").arg(dirFd_) + tempName
                : (dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/')) + tempName;
        return kSuccess;
    }
    return fail(EEXIST);
}

Status OutputFile::sync() {
    if (inMemory_)
        return memoryFd_ >= 0 ? kSuccess : fail(ENOENT);
    if (tempName_.isEmpty())
        return fail(ENOENT);
    const int fd = ::openat(dirFd_, tempName_.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    synced_ = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    return synced_ ? kSuccess : fail(error);
}

Status OutputFile::commit() {
    if (inMemory_)
        return commitToMemory();
    if (!synced_ && sync() != kSuccess)
        return kErrWrite;
    if (::renameat(dirFd_, tempName_.constData(), dirFd_, finalName_.constData()) != 0)
        return fail(errno);
    committed_ = true;
    return kSuccess;
}

Status OutputFile::commitToMemory() {
    struct stat st {};
    if (memoryFd_ < 0 || ::fstat(memoryFd_, &st) != 0 || st.st_size > INT32_MAX)
        return kErrWrite;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(memoryFd_, bytes.data() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return kErrWrite;
        done += n;
    }
    contents_ = std::move(bytes);
    committed_ = true;
    return kSuccess;
}

QString OutputFile::writeFailure(int error) const {
    // A writer may leave errno as its last failed call set it, or not at all: trust the causes a
    // write can have, and otherwise look at what the disk has left.
    if (error != ENOSPC && error != EDQUOT && error != EFBIG && error != EIO) {
        struct statvfs fs {};
        if (dirFd_ >= 0 && ::fstatvfs(dirFd_, &fs) == 0 && fs.f_bavail == 0)
            error = ENOSPC;
        else
            return QStringLiteral("%1 (the file cannot be written)")
                .arg(displayFileName(finalPath_));
    }
    return QStringLiteral("%1 (%2)").arg(displayFileName(finalPath_), failureCause(error));
}

}  // namespace pixavant::imaging
