#pragma once

#include <QString>
#include <optional>

namespace pixavant {

// Moves files to the desktop's trash the way file managers do (the freedesktop.org trash layout),
// so that they can be restored from there:
//  - a file on the file system of the user's data directory goes to $XDG_DATA_HOME/Trash
//    (~/.local/share/Trash), created when missing;
//  - a file on another file system goes to the trash at the top of that file system:
//    .Trash/UID when .Trash is a real directory with the sticky bit, otherwise .Trash-UID.
// Its .trashinfo record (original path, deletion time) is written before the file moves, and
// nothing is ever created next to the file itself. A file that cannot be moved stays where it is.
class Trash {
  public:
    // The trash of the user's data directory from the environment (XDG_DATA_HOME, HOME).
    Trash();
    // A trash whose home trash is homeTrashDir (empty: files on no other file system than their
    // own top directory's can be trashed).
    explicit Trash(QString homeTrashDir);

    static QString homeTrashFromEnvironment();
    const QString& homeTrashDir() const { return homeTrashDir_; }

    // Moves the file (a symbolic link moves as the link). Returns the path it has in the trash,
    // or nothing with the reason in *error.
    std::optional<QString> moveToTrash(const QString& path, QString* error) const;

    // The Path= value of a .trashinfo record: the path's bytes, percent-encoded but for "/" and
    // the unreserved characters.
    static QByteArray encodeTrashPath(const QString& path);

  private:
    QString homeTrashDir_;
};

}  // namespace pixavant
