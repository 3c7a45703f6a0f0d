#include "cli/SourceList.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "imaging/FileNames.h"

namespace pixavant::cli {

namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The name endings of the image files a tree walk takes, letter case ignored.
bool isImageName(const QString& name) {
    static const QStringList kEndings = {
        QStringLiteral(".gif"),  QStringLiteral(".jpg"),  QStringLiteral(".jpeg"),
        QStringLiteral(".jpe"),  QStringLiteral(".tif"),  QStringLiteral(".tiff"),
        QStringLiteral(".pict"), QStringLiteral(".pct"),  QStringLiteral(".tga"),
        QStringLiteral(".pcx"),  QStringLiteral(".eps"),  QStringLiteral(".wmf"),
        QStringLiteral(".bmp"),  QStringLiteral(".rle"),  QStringLiteral(".jxl"),
        QStringLiteral(".png"),  QStringLiteral(".webp"), QStringLiteral(".heic"),
        QStringLiteral(".heif"), QStringLiteral(".avif")};
    for (const QString& ending : kEndings)
        if (name.endsWith(ending, Qt::CaseInsensitive))
            return true;
    return false;
}

// The names in a directory but "." and ".." and hidden ones, in name order, read by their bytes so
// that a name that is not UTF-8 is found too. An unreadable directory has none.
QStringList visibleNames(const QString& dir) {
    QStringList names;
    DIR* stream = ::opendir(imaging::encodeFileName(dir).constData());
    if (stream == nullptr)
        return names;
    while (const dirent* entry = ::readdir(stream))
        if (entry->d_name[0] != '.')
            names << imaging::decodeFileName(QByteArray(entry->d_name));
    ::closedir(stream);
    names.sort();
    return names;
}

}  // namespace

SourceList::SourceList(QStringList paths, QString listFile, bool nulSeparated, int inputFd,
                       QStringList trees)
    : paths_(std::move(paths)),
      listFile_(std::move(listFile)),
      delimiter_(nulSeparated ? '\0' : '\n'),
      inputFd_(inputFd),
      trees_(std::move(trees)) {}

SourceList::~SourceList() {
    closeList();
    std::free(line_);
}

void SourceList::closeList() {
    if (list_ != nullptr)
        std::fclose(list_);
    if (copy_ != nullptr)
        std::fclose(copy_);
    list_ = copy_ = reading_ = nullptr;
}

bool SourceList::openList(QString& error) {
    if (listFile_ == QLatin1String("-")) {
        const int fd = ::dup(inputFd_);
        list_ = fd < 0 ? nullptr : ::fdopen(fd, "rb");
        if (list_ == nullptr && fd >= 0)
            ::close(fd);
    } else {
        list_ = std::fopen(imaging::encodeFileName(listFile_).constData(), "rb");
    }
    if (list_ == nullptr) {
        error = systemError(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(::fileno(list_), &st) != 0 || !S_ISREG(st.st_mode)) {
        copy_ = std::tmpfile();
        if (copy_ == nullptr) {
            error =
                QStringLiteral("no temporary file for a copy of the list: ") + systemError(errno);
            return false;
        }
        copying_ = true;
    }
    reading_ = list_;
    return true;
}

bool SourceList::start(QString& error) {
    nextPath_ = 0;
    fromCommandLine_ = false;
    nextTree_ = 0;
    walk_.clear();
    treeBase_.clear();
    if (listFile_.isEmpty())
        return true;
    if (reading_ == nullptr)
        return openList(error);
    if (copy_ != nullptr) {
        // The list has been read once, and copied: read the copy from now on.
        copying_ = false;
        if (list_ != nullptr) {
            std::fclose(list_);
            list_ = nullptr;
        }
        reading_ = copy_;
    }
    if (std::fflush(reading_) != 0 || std::fseek(reading_, 0, SEEK_SET) != 0) {
        error = systemError(errno);
        return false;
    }
    std::clearerr(reading_);
    return true;
}

SourceList::Next SourceList::next(QString& path, QString& error) {
    if (nextPath_ < paths_.size()) {
        fromCommandLine_ = true;
        path = paths_[nextPath_++];
        return Next::Name;
    }
    fromCommandLine_ = false;
    if (nextInTrees(path))
        return Next::Name;
    if (reading_ == nullptr)
        return Next::End;
    for (;;) {
        errno = 0;
        const ssize_t length = ::getdelim(&line_, &lineCapacity_, delimiter_, reading_);
        if (length < 0) {
            if (std::ferror(reading_) == 0)
                return Next::End;
            error = systemError(errno != 0 ? errno : EIO);
            return Next::Error;
        }
        if (copying_ && std::fwrite(line_, 1, size_t(length), copy_) != size_t(length)) {
            error = QStringLiteral("the copy of the list cannot be written: ") +
                    systemError(errno != 0 ? errno : EIO);
            return Next::Error;
        }
        size_t size = size_t(length);
        if (size > 0 && line_[size - 1] == delimiter_)
            --size;
        else if (copying_ && std::fputc(delimiter_, copy_) == EOF) {
            error = QStringLiteral("the copy of the list cannot be written: ") +
                    systemError(errno != 0 ? errno : EIO);
            return Next::Error;
        }
        if (size == 0)
            continue;
        path = imaging::decodeFileName(QByteArray(line_, qsizetype(size)));
        return Next::Name;
    }
}

// Walks the trees depth first. A link is taken when it leads to a file inside its tree; links to
// directories are never followed, so that no file is reached twice and no walk leaves its tree.
// Hidden files and directories are passed over, as in the window's list.
bool SourceList::nextInTrees(QString& path) {
    for (;;) {
        if (walk_.empty()) {
            treeBase_.clear();
            if (nextTree_ >= trees_.size())
                return false;
            const QString& root = trees_[nextTree_++];
            treeTop_ = imaging::resolvedPath(root) + QLatin1Char('/');
            const QString absolute = absoluteCleanPath(root, imaging::currentDirectory());
            treeBase_ = absolute.left(absolute.lastIndexOf(QLatin1Char('/')) + 1);
            walk_.push_back({root, {}});
        }
        auto& [dirPath, folder] = walk_.back();
        if (!folder.listed) {
            folder.listed = true;
            for (const QString& name : visibleNames(dirPath)) {
                const QString entry = dirPath + QLatin1Char('/') + name;
                const imaging::FileStatus status = imaging::linkStatus(entry);
                if (status.isLink) {
                    if (imaging::fileStatus(entry).isFile &&
                        imaging::resolvedPath(entry).startsWith(treeTop_) && isImageName(name))
                        folder.files << name;
                } else if (status.isDir) {
                    folder.folders << name;
                } else if (status.isFile && isImageName(name)) {
                    folder.files << name;
                }
            }
        }
        if (folder.nextFile < folder.files.size()) {
            const QString& name = folder.files[folder.nextFile++];
            if (!treeSkipEnding_.isEmpty() && name.endsWith(treeSkipEnding_))
                continue;
            path = dirPath + QLatin1Char('/') + name;
            return true;
        }
        if (folder.nextFolder < folder.folders.size()) {
            const QString sub = dirPath + QLatin1Char('/') + folder.folders[folder.nextFolder++];
            walk_.push_back({sub, {}});
            continue;
        }
        walk_.pop_back();
    }
}

QString absoluteCleanPath(const QString& path, const QString& cwd) {
    if (path.startsWith(QLatin1Char('/')))
        return QDir::cleanPath(path);
    return QDir::cleanPath(cwd + QLatin1Char('/') + path);
}

uint64_t PathKeys::keyOf(const QString& path) {
    // Any fixed seed: the keys live only for one run.
    return uint64_t(qHash(QStringView(path), size_t(0x9e3779b97f4a7c15ULL)));
}

PathKeys PathKeys::seal() {
    std::sort(keys_.begin(), keys_.end());
    PathKeys repeated;
    for (size_t i = 1; i < keys_.size(); ++i)
        if (keys_[i] == keys_[i - 1] &&
            (repeated.keys_.empty() || repeated.keys_.back() != keys_[i]))
            repeated.keys_.push_back(keys_[i]);
    keys_.erase(std::unique(keys_.begin(), keys_.end()), keys_.end());
    keys_.shrink_to_fit();
    return repeated;
}

bool PathKeys::contains(uint64_t key) const {
    return std::binary_search(keys_.begin(), keys_.end(), key);
}

}  // namespace pixavant::cli
