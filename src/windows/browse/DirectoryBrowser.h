#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <optional>

class QComboBox;
class QListWidget;
class QPushButton;

namespace pixavant {

// The directory picker: a drive list (the mounted file systems, "/" first) and a directory list
// that shows the open directory with its parents above it and its subdirectories below it. A
// double-click opens a directory; OK takes the open directory.
//
// Two uses: Mode::Source ("Source Files Browser") stores the choice as the source directory (with
// a trailing "/") and the output directory; Mode::Output ("Browser") only hands the path back,
// exactly as the list shows it. Both open at the source directory.
class DirectoryBrowser : public QDialog {
    Q_OBJECT

  public:
    enum class Mode { Source, Output };

    explicit DirectoryBrowser(Mode mode, QWidget* parent = nullptr);

    // Shows the source picker modally. Returns whether the user chose a directory with OK.
    static bool pickSourceDirectory(QWidget* parent);
    // Shows the output picker modally. Returns the chosen path, or nothing when it was closed.
    static std::optional<QString> pickOutputDirectory(QWidget* parent);

    // The open directory: an absolute path without a trailing "/" (the root is "/").
    QString path() const { return path_; }
    // Opens dir. Returns false, changing nothing, when it cannot be read.
    bool setPath(const QString& dir);
    // Opens the directory list's item at row (as a double-click, Enter or Right does).
    bool openItem(int row);
    // Opens the parent of the open directory (Left or Backspace); false at the root.
    bool openParent();

    // The drive list: mount points, and the one selected.
    QStringList drives() const;
    void setDrives(const QStringList& mountPoints);
    QString drive() const;
    // Selects a drive and moves the directory list to it. Returns false, changing nothing, when
    // the drive cannot be read.
    bool setDrive(const QString& mountPoint);

    // OK: stores the open directory as the mode requires and closes the window.
    void okClick();
    // What OK chose (the path as the list gives it); nothing before OK.
    std::optional<QString> chosenPath() const { return chosen_; }

    // The mount points listed in a mounts table (the text of /proc/self/mounts): "/" first, then
    // the others in name order, without the system's pseudo file systems.
    static QStringList drivesFromMounts(const QString& mountsText);
    // The mount point among drives that holds path (the longest one that is a parent of it).
    static QString driveOf(const QString& path, const QStringList& drives);

  private:
    // Opens dir, or says that it cannot be opened.
    bool openDirectory(const QString& dir);
    void buildWindow();
    void fillDirectoryList();
    void driveActivated(int index);
    void selectDriveEntry(const QString& mountPoint);

    Mode mode_;
    QString path_;
    QString drive_;
    std::optional<QString> chosen_;
    QComboBox* driveBox_ = nullptr;
    QListWidget* folderList_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace pixavant
