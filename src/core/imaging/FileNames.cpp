#include "imaging/FileNames.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pixavant::imaging {

namespace {

constexpr char16_t kFirstRawByte = 0xDC80;
constexpr char16_t kLastRawByte = 0xDCFF;
constexpr char kDescriptorDir[] = "/proc/self/fd/";

bool isRawByte(char16_t unit) {
    return unit >= kFirstRawByte && unit <= kLastRawByte;
}

// The length of the valid UTF-8 sequence at b[i], or 0.
int utf8Length(const uint8_t* b, qsizetype i, qsizetype n, char32_t& point) {
    const uint8_t c = b[i];
    int length = 0;
    char32_t least = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        point = c & 0x1F;
        least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        point = c & 0x0F;
        least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        point = c & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > n)
        return 0;
    for (int k = 1; k < length; ++k) {
        const uint8_t next = b[i + k];
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

FileStatus statusOf(const QString& path, bool follow) {
    FileStatus status;
    struct stat st {};
    const QByteArray bytes = encodeFileName(path);
    if ((follow ? ::stat(bytes.constData(), &st) : ::lstat(bytes.constData(), &st)) != 0)
        return status;
    status.exists = true;
    status.isFile = S_ISREG(st.st_mode);
    status.isDir = S_ISDIR(st.st_mode);
    status.isLink = S_ISLNK(st.st_mode);
    status.size = qint64(st.st_size);
    status.device = uint64_t(st.st_dev);
    status.inode = uint64_t(st.st_ino);
    return status;
}

}  // namespace

QString decodeFileName(const QByteArray& bytes) {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.constData());
    const qsizetype n = bytes.size();
    QString name;
    name.reserve(n);
    for (qsizetype i = 0; i < n;) {
        if (b[i] < 0x80) {
            name += QChar(char16_t(b[i++]));
            continue;
        }
        char32_t point = 0;
        const int length = utf8Length(b, i, n, point);
        if (length == 0) {
            name += QChar(char16_t(0xDC00 + b[i++]));
            continue;
        }
        if (point >= 0x10000) {
            name += QChar(QChar::highSurrogate(point));
            name += QChar(QChar::lowSurrogate(point));
        } else {
            name += QChar(char16_t(point));
        }
        i += length;
    }
    return name;
}

bool hasRawBytes(const QString& name) {
    for (qsizetype i = 0; i < name.size(); ++i)
        if (isRawByte(name[i].unicode()) && (i == 0 || !name[i - 1].isHighSurrogate()))
            return true;
    return false;
}

QByteArray encodeFileName(const QString& name) {
    if (!hasRawBytes(name))
        return name.toUtf8();
    QByteArray bytes;
    bytes.reserve(name.size() * 3);
    qsizetype start = 0;  // of the UTF-8 run not yet encoded
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (!isRawByte(name[i].unicode()) || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += QStringView(name).mid(start, i - start).toUtf8();
        bytes += char(name[i].unicode() - 0xDC00);
        start = i + 1;
    }
    bytes += QStringView(name).mid(start).toUtf8();
    return bytes;
}

QString displayFileName(const QString& name) {
    if (!hasRawBytes(name))
        return name;
    QString shown;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name[i].unicode();
        if (isRawByte(unit) && (i == 0 || !name[i - 1].isHighSurrogate()))
            shown +=
                QStringLiteral("\\x") + QStringLiteral("%1")
                                            .arg(unsigned(unit - 0xDC00), 2, 16, QLatin1Char('0'))
                                            .toUpper();
        else
            shown += name[i];
    }
    return shown;
}

FileStatus fileStatus(const QString& path) {
    return statusOf(path, true);
}

FileStatus linkStatus(const QString& path) {
    return statusOf(path, false);
}

QString resolvedPath(const QString& path) {
    char* resolved = ::realpath(encodeFileName(path).constData(), nullptr);
    if (resolved == nullptr)
        return {};
    const QString result = decodeFileName(QByteArray(resolved));
    std::free(resolved);
    return result;
}

QString currentDirectory() {
    QByteArray buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), size_t(buffer.size())) == nullptr) {
        if (errno != ERANGE)
            return QStringLiteral("/");
        buffer.resize(buffer.size() * 2);
    }
    return decodeFileName(QByteArray(buffer.constData()));
}

bool makeDirectories(const QString& dir) {
    const QByteArray bytes = encodeFileName(dir);
    for (qsizetype slash = 1; slash <= bytes.size(); ++slash) {
        if (slash < bytes.size() && bytes[slash] != '/')
            continue;
        const QByteArray part = bytes.left(slash);
        if (::mkdir(part.constData(), 0777) == 0)
            continue;
        const int error = errno;
        struct stat st {};
        if (::stat(part.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            errno = error == EEXIST ? ENOTDIR : error;
            return false;
        }
    }
    return true;
}

QString failureCause(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return QStringLiteral("permission denied");
        case ENAMETOOLONG:
            return QStringLiteral("name too long");
        case ENOSPC:
        case EDQUOT:
            return QStringLiteral("no space left on the device");
        case EROFS:
            return QStringLiteral("read-only file system");
        case ENOENT:
            return QStringLiteral("no such folder");
        case ENOTDIR:
            return QStringLiteral("a part of the path is not a folder");
        case EFBIG:
            return QStringLiteral("the file is too large for the file system");
        default: {
            QString text = QString::fromLocal8Bit(std::strerror(error));
            if (!text.isEmpty())
                text[0] = text[0].toLower();
            return text;
        }
    }
}

ReadablePath::ReadablePath(const QString& path) : path_(path) {
    if (!hasRawBytes(path))
        return;
    fd_ = ::open(encodeFileName(path).constData(), O_PATH | O_CLOEXEC);
    if (fd_ >= 0)
        path_ = QLatin1String(kDescriptorDir) + QString::number(fd_);
}

ReadablePath::~ReadablePath() {
    if (fd_ >= 0)
        ::close(fd_);
}

ReadablePath::ReadablePath(ReadablePath&& other) noexcept
    : path_(std::move(other.path_)), fd_(other.fd_) {
    other.fd_ = -1;
}

ReadablePath& ReadablePath::operator=(ReadablePath&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

QString nameBehindPath(const QString& path) {
    if (!path.startsWith(QLatin1String(kDescriptorDir)))
        return path;
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length =
        ::readlink(encodeFileName(path).constData(), target.data(), size_t(target.size()));
    if (length <= 0)
        return path;
    return decodeFileName(target.left(length));
}

}  // namespace pixavant::imaging
