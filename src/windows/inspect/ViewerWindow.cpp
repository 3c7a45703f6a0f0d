#include "inspect/ViewerWindow.h"

#include <QPushButton>
#include <exception>

#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "app/SourceScan.h"
#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
#include "imaging/ImagingStatus.h"
#include "inspect/ImageDisplay.h"
#include "settings/AppState.h"

namespace pixavant {

namespace {
constexpr int kClientWidth = 8220;
constexpr int kClientHeight = 7485;
}  // namespace

ViewerWindow::ViewerWindow(MainWindow& mainWindow) : QDialog(&mainWindow), mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("frmViewer"));
    setWindowTitle(QStringLiteral("Form1"));
    setModal(true);
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    keepWindowFixed(this);

    lead1_ = new ImageDisplay(this);
    lead1_->setGeometry(twipRect(60, 60, 8115, 6585));

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
    lead1_->setAccessibleName(QStringLiteral("Image"));
    nameControls(this);
    connect(previous_, &QPushButton::clicked, this, &ViewerWindow::previousClick);
    connect(next_, &QPushButton::clicked, this, &ViewerWindow::nextClick);

    // The window's load: the box first, then the current item of the list in use.
    previewBox_ = lead1_->previewBox();
    QString path;
    if (const FileListBox* list = selectedList()) {
        const int current = list->currentItemIndex();
        currentIndex_ = int16_t(current);
        path = itemPath(list, current);
    }
    showFile(path);
}

void ViewerWindow::open(MainWindow& mainWindow) {
    ViewerWindow viewer(mainWindow);
    viewer.exec();
}

FileListBox* ViewerWindow::selectedList() {
    mainWindow_.findSelectedList();
    switch (appState().SelectedList) {
        case 1:
            return mainWindow_.sourceList();
        case 2:
            return mainWindow_.workList();
        default:
            return nullptr;
    }
}

QString ViewerWindow::itemPath(const FileListBox* list, int index) const {
    if (index < 0 || index >= list->count())
        return QString();
    return listItemPath(appState().SourceDir, list->itemText(index));
}

void ViewerWindow::nextClick() {
    QString path;
    if (const FileListBox* list = selectedList()) {
        if (currentIndex_ >= list->count() - 1)
            return;  // the last item: no wrap-around
        ++currentIndex_;
        path = itemPath(list, currentIndex_);
    }
    showFile(path);
}

void ViewerWindow::previousClick() {
    QString path;
    if (const FileListBox* list = selectedList()) {
        if (currentIndex_ <= 0)
            return;  // the first item
        --currentIndex_;
        path = itemPath(list, currentIndex_);
    }
    showFile(path);
}

bool ViewerWindow::showFile(const QString& path) {
    try {
        if (path.isEmpty() || lead1_->readFileInfo(path, 1) != imaging::kSuccess)
            return false;
        const std::optional<ControlGeometry> fitted =
            fitViewerImage(lead1_->bitmapWidth(), lead1_->bitmapHeight(), previewBox_);
        if (!fitted)
            return false;
        lead1_->setControlGeometry(*fitted);
        if (lead1_->load(path, 0, 0, 1) != imaging::kSuccess)
            return false;
        setWindowTitle(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace pixavant
