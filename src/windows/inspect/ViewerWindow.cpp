#include "inspect/ViewerWindow.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <exception>

#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
#include "imaging/ImagingStatus.h"
#include "inspect/ImageDisplay.h"

namespace pixavant {

namespace {
constexpr int kClientWidth = 8220;
constexpr int kClientHeight = 7485;
}  // namespace

ViewerWindow::ViewerWindow(ViewerSource& source) : QDialog(source.hostWindow()), source_(source) {
    setObjectName(QStringLiteral("frmViewer"));
    setWindowTitle(QStringLiteral("Form1"));
    setModal(true);
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    keepWindowFixed(this);

    display_ = new ImageDisplay(this);
    display_->setGeometry(twipRect(60, 60, 8115, 6585));

    const QFont buttonFont = sansFont(8.25, true);
    auto makeButton = [&](const char* name, const QString& caption, int left) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(QLatin1String(name));
        button->setFont(buttonFont);
        button->setAutoDefault(true);  // Enter clicks the focused button
        button->setGeometry(twipRect(left, 6870, 1005, 435));
        return button;
    };
    previous_ = makeButton("Previous", QStringLiteral("Previous"), 2513);
    next_ = makeButton("Next", QStringLiteral("Next"), 4703);
    display_->setAccessibleName(QStringLiteral("Image"));
    nameControls(this);
    connect(previous_, &QPushButton::clicked, this, &ViewerWindow::previousClick);
    connect(next_, &QPushButton::clicked, this, &ViewerWindow::nextClick);
    addKeys();

    // The window's load: the box first, then the current item of the list in use.
    previewBox_ = display_->previewBox();
    QString path;
    if (const QListWidget* list = source_.selectedList()) {
        const int current = list->currentRow();
        currentIndex_ = int16_t(current);
        path = itemPath(list, current);
    }
    showFile(path);
}

void ViewerWindow::open(ViewerSource& source) {
    ViewerWindow viewer(source);
    viewer.exec();
}

void ViewerWindow::addKeys() {
    // Window-wide, so that they work wherever the focus is (the buttons would otherwise take the
    // arrows to move the focus).
    auto addKey = [this](const char* name, QList<QKeySequence> keys, void (ViewerWindow::*slot)()) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(name));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
    };
    addKey("PreviousKeys", {QKeySequence(Qt::Key_Left), QKeySequence(Qt::Key_PageUp)},
           &ViewerWindow::previousClick);
    addKey("NextKeys", {QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_PageDown)},
           &ViewerWindow::nextClick);
    addKey("ActualSizeKey", {QKeySequence(Qt::Key_Z)}, &ViewerWindow::toggleActualSize);
}

QString ViewerWindow::itemPath(const QListWidget* list, int index) const {
    if (index < 0 || index >= list->count())
        return QString();
    return source_.itemPath(list, index);
}

void ViewerWindow::toggleActualSize() {
    display_->setActualSize(!display_->actualSize());
    if (!shownPath_.isEmpty())
        showFile(shownPath_);
}

void ViewerWindow::nextClick() {
    QString path;
    if (const QListWidget* list = source_.selectedList()) {
        if (currentIndex_ >= list->count() - 1)
            return;  // the last item: no wrap-around
        ++currentIndex_;
        path = itemPath(list, currentIndex_);
    }
    showFile(path);
}

void ViewerWindow::previousClick() {
    QString path;
    if (const QListWidget* list = source_.selectedList()) {
        if (currentIndex_ <= 0)
            return;  // the first item
        --currentIndex_;
        path = itemPath(list, currentIndex_);
    }
    showFile(path);
}

bool ViewerWindow::showFile(const QString& path) {
    try {
        if (path.isEmpty() || display_->readFileInfo(path) != imaging::kSuccess)
            return false;
        const std::optional<ControlGeometry> fitted =
            fitViewerImage(display_->bitmapWidth(), display_->bitmapHeight(), previewBox_);
        if (!fitted)
            return false;
        display_->setControlGeometry(*fitted);
        if (display_->load(path, 0) != imaging::kSuccess)
            return false;
        setWindowTitle(path);
        shownPath_ = path;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace pixavant
