#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace pixavant::imaging {

// File names are bytes on Linux, and not every name is UTF-8 (a Latin-1 "Caf\xe9.jpg" copied from
// an old disk). Qt decodes names as UTF-8 only and loses such bytes, so names go through these
// functions instead: each byte that is not part of a valid UTF-8 sequence becomes the lone
// surrogate U+DC80..U+DCFF (no valid UTF-8 text decodes to one), and encoding turns those back
// into the very bytes. A UTF-8 name decodes as Qt decodes it.
QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);
// True when `name` holds bytes that are not UTF-8 (decodeFileName's escapes).
bool hasRawBytes(const QString& name);
// The name as a person reads it: each byte that is not UTF-8 shown as \xHH ("Caf\xE9.jpg").
QString displayFileName(const QString& name);

// What stat() says of a path, following links.
struct FileStatus {
    bool exists = false;
    bool isFile = false;
    bool isDir = false;
    bool isLink = false;  // linkStatus() only
    qint64 size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
};
FileStatus fileStatus(const QString& path);
// The same without following a final link.
FileStatus linkStatus(const QString& path);
// The path with every link resolved (realpath); empty when it does not exist.
QString resolvedPath(const QString& path);
// The working directory, bytes kept.
QString currentDirectory();
// Makes `dir` and any missing parents. False with errno set when it cannot.
bool makeDirectories(const QString& dir);

// Why a file operation failed, in a few words, for an errno value: "permission denied", "name too
// long", "no space left on the device", ...
QString failureCause(int error);

// A path the image libraries can open, for a file whose name may not be UTF-8: the path itself
// when it is, otherwise /proc/self/fd/N of a descriptor opened by the name's own bytes, held
// while this object lives.
class ReadablePath {
  public:
    ReadablePath() = default;
    explicit ReadablePath(const QString& path);
    ~ReadablePath();
    ReadablePath(ReadablePath&& other) noexcept;
    ReadablePath& operator=(ReadablePath&& other) noexcept;
    ReadablePath(const ReadablePath&) = delete;
    ReadablePath& operator=(const ReadablePath&) = delete;

    const QString& path() const { return path_; }

  private:
    QString path_;
    int fd_ = -1;
};

// For a path that names an open descriptor (/proc/self/fd/N), the name it was opened by;
// otherwise the path itself. Its suffix is the file's.
QString nameBehindPath(const QString& path);

}  // namespace pixavant::imaging
