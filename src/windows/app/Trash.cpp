#include "app/Trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace pixavant {

namespace {

QString systemError(int code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

bool statPath(const QString& path, struct stat* st) {
    return ::stat(QFile::encodeName(path).constData(), st) == 0;
}

bool lstatPath(const QString& path, struct stat* st) {
    return ::lstat(QFile::encodeName(path).constData(), st) == 0;
}

// The directory, made (with every missing parent) private to the user when it does not exist.
bool makePrivateDirectory(const QString& dir, QString* error) {
    struct stat st {};
    if (statPath(dir, &st)) {
        if (S_ISDIR(st.st_mode))
            return true;
        *error = QStringLiteral("%1 is not a folder").arg(dir);
        return false;
    }
    const QString parent = QFileInfo(dir).path();
    if (parent != dir && !makePrivateDirectory(parent, error))
        return false;
    if (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot create %1: %2").arg(dir, systemError(errno));
        return false;
    }
    return true;
}

// A trash directory of the user's: a real directory (no link) owned by them.
bool isUsersDirectory(const QString& dir) {
    struct stat st {};
    return lstatPath(dir, &st) && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// The device of the nearest existing directory on the way up from path.
std::optional<dev_t> deviceOfNearest(QString path) {
    for (;;) {
        struct stat st {};
        if (statPath(path, &st))
            return st.st_dev;
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return std::nullopt;
        path = parent;
    }
}

// The top directory of the file system that holds dir (a canonical path).
QString mountTop(const QString& dir, dev_t device) {
    QString top = dir;
    for (;;) {
        const QString parent = QFileInfo(top).path();
        struct stat st {};
        if (parent == top || !statPath(parent, &st) || st.st_dev != device)
            return top;
        top = parent;
    }
}

// The trash directory at the top of a file system, made when missing.
std::optional<QString> topDirectoryTrash(const QString& top, QString* error) {
    const QString uid = QString::number(::getuid());
    const QString base = top == QLatin1String("/") ? QString() : top;

    // An administrator's shared .Trash counts only as a real directory with the sticky bit.
    const QString shared = base + QStringLiteral("/.Trash");
    struct stat st {};
    if (lstatPath(shared, &st) && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
        const QString own = shared + QLatin1Char('/') + uid;
        if (::mkdir(QFile::encodeName(own).constData(), 0700) == 0 || errno == EEXIST) {
            if (isUsersDirectory(own))
                return own;
        }
    }

    const QString own = base + QStringLiteral("/.Trash-") + uid;
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST) {
        *error =
            QStringLiteral("cannot create the trash folder %1: %2").arg(own, systemError(errno));
        return std::nullopt;
    }
    if (!isUsersDirectory(own)) {
        *error = QStringLiteral("%1 is not a trash folder of yours").arg(own);
        return std::nullopt;
    }
    return own;
}

// "photo.jpg", "photo.2.jpg", "photo.3.jpg"... for the n-th try.
QString candidateName(const QString& name, int attempt) {
    if (attempt == 1)
        return name;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + QLatin1Char('.') + QString::number(attempt);
    return name.left(dot) + QLatin1Char('.') + QString::number(attempt) + name.mid(dot);
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Where a file goes, and the path its record keeps: absolute in the home trash, relative to the
// top directory in a file system's own trash (which may be mounted elsewhere next time).
struct TrashPlace {
    QString dir;
    QString recordedPath;
};

std::optional<TrashPlace> trashPlace(const QString& homeTrashDir, const QString& parent,
                                     dev_t parentDevice, const QString& original, QString* error) {
    if (!homeTrashDir.isEmpty() && deviceOfNearest(homeTrashDir) == parentDevice) {
        if (!makePrivateDirectory(homeTrashDir, error))
            return std::nullopt;
        return TrashPlace{homeTrashDir, original};
    }
    const QString top = mountTop(parent, parentDevice);
    const std::optional<QString> topTrash = topDirectoryTrash(top, error);
    if (!topTrash)
        return std::nullopt;
    return TrashPlace{*topTrash,
                      top == QLatin1String("/") ? original.mid(1) : original.mid(top.size() + 1)};
}

// Writes the record under the first free name, then moves the file beside it. Returns the path
// it has in the trash.
std::optional<QString> moveUnderFreeName(const QString& path, const QString& fileName,
                                         const QString& filesDir, const QString& infoDir,
                                         const QByteArray& record, QString* error) {
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const QString name = candidateName(fileName, attempt);
        const QString infoPath = infoDir + QLatin1Char('/') + name + QStringLiteral(".trashinfo");
        const QString trashedPath = filesDir + QLatin1Char('/') + name;
        // Creating the record exclusively reserves the name, even against another program.
        const int fd = ::open(QFile::encodeName(infoPath).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *error = QStringLiteral("cannot write to the trash: %1").arg(systemError(errno));
            return std::nullopt;
        }
        bool written = writeAll(fd, record);
        int writeError = errno;
        if (::close(fd) != 0 && written) {
            written = false;
            writeError = errno;
        }
        if (!written) {
            ::unlink(QFile::encodeName(infoPath).constData());
            *error = QStringLiteral("cannot write to the trash: %1").arg(systemError(writeError));
            return std::nullopt;
        }
        struct stat existing {};
        if (lstatPath(trashedPath, &existing)) {
            ::unlink(QFile::encodeName(infoPath).constData());  // a leftover without its record
            continue;
        }
        if (::rename(QFile::encodeName(path).constData(),
                     QFile::encodeName(trashedPath).constData()) != 0) {
            *error = systemError(errno);
            ::unlink(QFile::encodeName(infoPath).constData());  // the file stayed: no record
            return std::nullopt;
        }
        return trashedPath;
    }
    *error = QStringLiteral("the trash holds too many files of this name");
    return std::nullopt;
}

}  // namespace

Trash::Trash() : homeTrashDir_(homeTrashFromEnvironment()) {}

Trash::Trash(QString homeTrashDir) : homeTrashDir_(std::move(homeTrashDir)) {}

QString Trash::homeTrashFromEnvironment() {
    // A relative XDG_DATA_HOME is invalid and ignored.
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!data.startsWith(QLatin1Char('/'))) {
        const QString home = qEnvironmentVariable("HOME");
        if (!home.startsWith(QLatin1Char('/')))
            return {};
        data = home + QStringLiteral("/.local/share");
    }
    return QDir::cleanPath(data + QStringLiteral("/Trash"));
}

QByteArray Trash::encodeTrashPath(const QString& path) {
    return QFile::encodeName(path).toPercentEncoding("/");
}

std::optional<QString> Trash::moveToTrash(const QString& path, QString* error) const {
    struct stat entry {};
    if (!lstatPath(path, &entry)) {
        *error = systemError(errno);
        return std::nullopt;
    }
    if (S_ISDIR(entry.st_mode)) {
        *error = QStringLiteral("a folder is not trashed here");
        return std::nullopt;
    }
    const QFileInfo info(path);
    const QString parent = info.absoluteDir().canonicalPath();
    struct stat parentStat {};
    if (parent.isEmpty() || !statPath(parent, &parentStat)) {
        *error = QStringLiteral("its folder cannot be read");
        return std::nullopt;
    }
    const QString original =
        (parent == QLatin1String("/") ? QString() : parent) + QLatin1Char('/') + info.fileName();

    const std::optional<TrashPlace> place =
        trashPlace(homeTrashDir_, parent, parentStat.st_dev, original, error);
    if (!place)
        return std::nullopt;
    const QString filesDir = place->dir + QStringLiteral("/files");
    const QString infoDir = place->dir + QStringLiteral("/info");
    if (!makePrivateDirectory(filesDir, error) || !makePrivateDirectory(infoDir, error))
        return std::nullopt;

    const QByteArray record =
        "[Trash Info]\nPath=" + encodeTrashPath(place->recordedPath) + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        "\n";
    return moveUnderFreeName(path, info.fileName(), filesDir, infoDir, record, error);
}

}  // namespace pixavant
