#include "browse/DirectoryBrowser.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QStyle>
#include <QStyledItemDelegate>

#include "common/FocusMarks.h"
#include "common/Message.h"
#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

namespace pixavant {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;

// Indents each directory by its depth in the tree.
class IndentDelegate : public FocusItemDelegate {
  public:
    using FocusItemDelegate::FocusItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented = option;
        indented.rect.adjust(index.data(kLevelRole).toInt() * kIndent, 0, 0, 0);
        FocusItemDelegate::paint(painter, indented, index);
    }
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += index.data(kLevelRole).toInt() * kIndent;
        return size;
    }

  private:
    static constexpr int kIndent = 8;
};

// The directory list, operated from the keyboard as in a file dialog: the arrows move, Enter or
// Right opens the highlighted directory, Left or Backspace opens the parent of the open one.
class DirectoryList : public FocusMarkedView<QListWidget> {
  public:
    explicit DirectoryList(DirectoryBrowser* browser)
        : FocusMarkedView<QListWidget>(browser), browser_(browser) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Right:
                // Taken here, so that Enter does not also confirm the dialog.
                if (currentRow() >= 0)
                    browser_->openItem(currentRow());
                event->accept();
                return;
            case Qt::Key_Left:
            case Qt::Key_Backspace:
                browser_->openParent();
                event->accept();
                return;
            default:
                QListWidget::keyPressEvent(event);
        }
    }

  private:
    DirectoryBrowser* browser_;
};

bool isReadableDirectory(const QString& dir) {
    const QFileInfo info(dir);
    return info.isDir() && info.isReadable() && info.isExecutable();
}

// Undoes the octal escapes (\040 for a blank) of the mounts table.
QString unescapeMountField(const QString& field) {
    QString out;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == QLatin1Char('\\') && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool isSystemMount(const QString& mountPoint, const QString& type) {
    static const QSet<QString> pseudoTypes = {
        QStringLiteral("proc"),        QStringLiteral("sysfs"),
        QStringLiteral("devtmpfs"),    QStringLiteral("devpts"),
        QStringLiteral("tmpfs"),       QStringLiteral("ramfs"),
        QStringLiteral("cgroup"),      QStringLiteral("cgroup2"),
        QStringLiteral("securityfs"),  QStringLiteral("debugfs"),
        QStringLiteral("tracefs"),     QStringLiteral("mqueue"),
        QStringLiteral("hugetlbfs"),   QStringLiteral("pstore"),
        QStringLiteral("bpf"),         QStringLiteral("autofs"),
        QStringLiteral("fusectl"),     QStringLiteral("configfs"),
        QStringLiteral("binfmt_misc"), QStringLiteral("efivarfs"),
        QStringLiteral("nsfs"),        QStringLiteral("squashfs"),
        QStringLiteral("rpc_pipefs"),  QStringLiteral("nfsd"),
        QStringLiteral("selinuxfs"),   QStringLiteral("fuse.gvfsd-fuse"),
        QStringLiteral("fuse.portal"),
    };
    if (pseudoTypes.contains(type)) {
        return true;
    }
    static const QStringList systemTrees = {QStringLiteral("/proc"), QStringLiteral("/sys"),
                                            QStringLiteral("/dev"), QStringLiteral("/run"),
                                            QStringLiteral("/snap")};
    if (mountPoint.startsWith(QStringLiteral("/run/media/"))) {
        return false;
    }
    for (const QString& tree : systemTrees) {
        if (mountPoint == tree || mountPoint.startsWith(tree + QLatin1Char('/'))) {
            return true;
        }
    }
    return false;
}

QStringList mountedDrives() {
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {QStringLiteral("/")};
    }
    return DirectoryBrowser::drivesFromMounts(QString::fromLocal8Bit(mounts.readAll()));
}

}  // namespace

DirectoryBrowser::DirectoryBrowser(Mode mode, QWidget* parent) : QDialog(parent), mode_(mode) {
    setObjectName(mode == Mode::Source ? QStringLiteral("Browser")
                                       : QStringLiteral("BrowserOutput"));
    setWindowTitle(mode == Mode::Source ? QStringLiteral("Source Files Browser")
                                        : QStringLiteral("Browser"));
    buildWindow();
    setDrives(mountedDrives());

    // Opens at the source directory, on the drive that holds it.
    const QString start = QDir::cleanPath(appState().SourceDir);
    setDrive(driveOf(start, drives()));
    setPath(start);
    if (path_.isEmpty()) {
        setPath(QStringLiteral("/"));
    }
}

void DirectoryBrowser::buildWindow() {
    setFixedSize(twipsToPixels(4680), twipsToPixels(2820));
    keepWindowFixed(this);
    const QFont font = sansFont(8.25);
    setFont(font);

    driveBox_ = new QComboBox(this);
    driveBox_->setObjectName(QStringLiteral("Drive1"));
    driveBox_->setGeometry(twipRect(600, 300, 2505, 315));
    folderList_ = new DirectoryList(this);
    folderList_->setObjectName(QStringLiteral("Dir1"));
    folderList_->setGeometry(twipRect(600, 780, 2505, 1665));
    folderList_->setItemDelegate(new IndentDelegate(folderList_));
    folderList_->setSelectionMode(QAbstractItemView::SingleSelection);
    ok_ = new QPushButton(QStringLiteral("Ok"), this);
    ok_->setObjectName(QStringLiteral("OK"));
    ok_->setGeometry(twipRect(3510, 1200, 885, 465));
    ok_->setDefault(true);
    driveBox_->setAccessibleName(QStringLiteral("Drive"));
    folderList_->setAccessibleName(QStringLiteral("Directory"));
    nameControls(this);

    setTabOrder(ok_, folderList_);
    setTabOrder(folderList_, driveBox_);
    ok_->setFocus();

    connect(driveBox_, &QComboBox::activated, this, &DirectoryBrowser::driveActivated);
    connect(folderList_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { openItem(folderList_->row(item)); });
    connect(ok_, &QPushButton::clicked, this, &DirectoryBrowser::okClick);
}

bool DirectoryBrowser::pickSourceDirectory(QWidget* parent) {
    DirectoryBrowser browser(Mode::Source, parent);
    return browser.exec() == QDialog::Accepted;
}

std::optional<QString> DirectoryBrowser::pickOutputDirectory(QWidget* parent) {
    DirectoryBrowser browser(Mode::Output, parent);
    if (browser.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return browser.chosenPath();
}

bool DirectoryBrowser::setPath(const QString& dir) {
    if (dir.isEmpty()) {
        return false;
    }
    const QString clean = QDir::cleanPath(QDir(dir).absolutePath());
    if (!isReadableDirectory(clean)) {
        return false;
    }
    path_ = clean;
    fillDirectoryList();
    return true;
}

void DirectoryBrowser::fillDirectoryList() {
    folderList_->clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);

    // The open directory's chain from the root, then its subdirectories one level deeper.
    QStringList chain;
    for (QString p = path_;; p = QFileInfo(p).path()) {
        chain.prepend(p);
        if (p == QStringLiteral("/")) {
            break;
        }
    }
    int level = 0;
    for (const QString& p : chain) {
        const QString name = p == QStringLiteral("/") ? p : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(openIcon, name, folderList_);
        item->setData(kPathRole, p);
        item->setData(kLevelRole, level++);
    }
    folderList_->setCurrentRow(folderList_->count() - 1);

    const QString prefix = path_ == QStringLiteral("/") ? path_ : path_ + QLatin1Char('/');
    const QStringList subdirs =
        QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : subdirs) {
        auto* item = new QListWidgetItem(closedIcon, name, folderList_);
        item->setData(kPathRole, prefix + name);
        item->setData(kLevelRole, level);
    }

    // The drive list follows the directory to the file system that holds it.
    const QString holder = driveOf(path_, drives());
    if (holder != drive_) {
        drive_ = holder;
        selectDriveEntry(holder);
    }
}

bool DirectoryBrowser::openItem(int row) {
    QListWidgetItem* item = folderList_->item(row);
    if (!item) {
        return false;
    }
    return openDirectory(item->data(kPathRole).toString());
}

bool DirectoryBrowser::openDirectory(const QString& target) {
    if (!setPath(target)) {
        showMessage(this, QStringLiteral("The directory %1 cannot be opened.").arg(target));
        return false;
    }
    return true;
}

bool DirectoryBrowser::openParent() {
    return path_ != QLatin1String("/") && openDirectory(QFileInfo(path_).path());
}

QStringList DirectoryBrowser::drives() const {
    QStringList list;
    for (int i = 0; i < driveBox_->count(); ++i) {
        list.append(driveBox_->itemText(i));
    }
    return list;
}

void DirectoryBrowser::setDrives(const QStringList& mountPoints) {
    driveBox_->clear();
    driveBox_->addItems(mountPoints);
    selectDriveEntry(drive_);
}

QString DirectoryBrowser::drive() const {
    return drive_;
}

bool DirectoryBrowser::setDrive(const QString& mountPoint) {
    if (!isReadableDirectory(mountPoint)) {
        selectDriveEntry(drive_);
        return false;
    }
    drive_ = mountPoint;
    selectDriveEntry(mountPoint);
    setPath(mountPoint);
    return true;
}

void DirectoryBrowser::driveActivated(int index) {
    const QString chosen = driveBox_->itemText(index);
    if (!setDrive(chosen)) {
        showMessage(this, QStringLiteral("The drive %1 cannot be read.").arg(chosen));
    }
}

void DirectoryBrowser::selectDriveEntry(const QString& mountPoint) {
    driveBox_->setCurrentIndex(driveBox_->findText(mountPoint));
}

void DirectoryBrowser::okClick() {
    if (mode_ == Mode::Source) {
        QString dir = path_;
        if (!dir.endsWith(QLatin1Char('/'))) {
            dir += QLatin1Char('/');
        }
        appState().SourceDir = dir;
        compressionSettings().OutputDir = dir;
    }
    chosen_ = path_;
    accept();
}

QStringList DirectoryBrowser::drivesFromMounts(const QString& mountsText) {
    QStringList others;
    for (const QString& line : mountsText.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 3) {
            continue;
        }
        const QString mountPoint = unescapeMountField(fields[1]);
        if (mountPoint == QStringLiteral("/") || !mountPoint.startsWith(QLatin1Char('/')) ||
            isSystemMount(mountPoint, fields[2]) || others.contains(mountPoint)) {
            continue;
        }
        others.append(mountPoint);
    }
    others.sort();
    others.prepend(QStringLiteral("/"));
    return others;
}

QString DirectoryBrowser::driveOf(const QString& path, const QStringList& drives) {
    QString best;
    for (const QString& drive : drives) {
        const bool holds = drive == QStringLiteral("/") || path == drive ||
                           path.startsWith(drive + QLatin1Char('/'));
        if (holds && drive.size() > best.size()) {
            best = drive;
        }
    }
    return best;
}

}  // namespace pixavant
