#include "app/MainWindow.h"

#include <algorithm>

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>

#include "about/AboutBox.h"
#include "app/DroppedPaths.h"
#include "app/FileListBox.h"
#include "app/SourceScan.h"
#include "app/Trash.h"
#include "browse/DirectoryBrowser.h"
#include "common/Message.h"
#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
#include "compare/CompareSource.h"
#include "compress/RunLists.h"
#include "options/CompressOptionDialog.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

namespace pixavant {

namespace {

// The window's lists as a run reads and extends them: the work list, the source list and the
// source count label (Label1).
class MainWindowLists final : public RunLists {
  public:
    explicit MainWindowLists(MainWindow& window) : window_(window) {}
    int workCount() const override { return window_.workList()->count(); }
    QString workEntry(int index) const override { return window_.workList()->itemText(index); }
    QString workFolder(int index) const override { return window_.workList()->itemFolder(index); }
    int sourceCount() const override { return window_.sourceList()->count(); }
    QString sourceEntry(int index) const override { return window_.sourceList()->itemText(index); }
    void addSourceEntry(const QString& entry) override {
        window_.sourceList()->addItem(entry, appState().SourceDir);
    }
    void setSourceCountLabel(const QString& text) override {
        window_.sourceCountLabel()->setText(text);
    }
    void setRunTotals(const QString& text) override { window_.setRunTotals(text); }

  private:
    MainWindow& window_;
};

// The file last clicked in either list, for the compare view.
class ClickedFile final : public CompareSource {
  public:
    QString clickedFile() const override { return appState().CurrentImagePath; }
};

MainWindow*& liveInstance() {
    static MainWindow* window = nullptr;
    return window;
}

constexpr int kClientWidth = 8160;
constexpr int kFullClientHeight = 6555;
// The window's two outer heights, 7254 and 4385 twips, include 699 twips of frame and menu bar:
// the short window shows the lists and their buttons only.
constexpr int kShortClientHeight = 4385 - (7254 - kFullClientHeight);
// Where the preview and the information panel begin.
constexpr int kLowerPartTop = 3735;
// The free band between the button row (which ends at 3030 + 435) and the lower part; it stays
// within the short window too.
constexpr int kRunTotalsTop = 3465;
constexpr int kRunTotalsHeight = 225;

// Whether a drag carries a folder.
bool carriesFolder(const QMimeData* data) {
    for (const QString& path : droppedPaths(data)) {
        if (QFileInfo(path).isDir())
            return true;
    }
    return false;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    liveInstance() = this;
    setObjectName(QStringLiteral("FileList"));
    setWindowTitle(QStringLiteral("Professional Archiving Compression Program"));
    keepWindowFixed(this);
    runLists_ = std::make_unique<MainWindowLists>(*this);
    compressHook_ = [this] {
        static const ClickedFile clicked;
        openCompressOption(this, *runLists_, &clicked);
    };
    buildWindow();
}

MainWindow::~MainWindow() {
    if (liveInstance() == this) {
        liveInstance() = nullptr;
    }
}

MainWindow* MainWindow::instance() {
    return liveInstance();
}

void MainWindow::buildWindow() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    buildControls(client);
    setControlsTabOrder();
    buildMenu();
    connectControls();
    nameControls(this);
    applyHeight();
}

// The lists, the buttons and the places of the preview and the information panel.
void MainWindow::buildControls(QWidget* client) {
    const QFont labelFont = sansFont(8.25);
    const QFont buttonFont = sansFont(8.25, true);

    auto makeLabel = [&](const char* name, const QString& text, QRect rect) {
        auto* label = new QLabel(text, client);
        label->setObjectName(QLatin1String(name));
        label->setFont(labelFont);
        label->setTextFormat(Qt::PlainText);
        label->setForegroundRole(QPalette::Highlight);
        label->setGeometry(rect);
        return label;
    };
    sourceCountLabel_ =
        makeLabel("Label1", QStringLiteral("Source File(s)"), twipRect(210, 240, 3015, 345));
    workCountLabel_ =
        makeLabel("Label2", QStringLiteral("Destination File(s)"), twipRect(4920, 240, 3015, 345));
    sourceFileList_ = new FileListBox(client);
    sourceFileList_->setObjectName(QStringLiteral("SrcFileList"));
    sourceFileList_->setFont(labelFont);
    sourceFileList_->setGeometry(twipRect(210, 630, 3015, 2010));
    workFileList_ = new FileListBox(client);
    workFileList_->setObjectName(QStringLiteral("WorkFileList"));
    workFileList_->setFont(labelFont);
    workFileList_->setGeometry(twipRect(4920, 630, 3015, 2010));

    auto makeButton = [&](const char* name, const QString& caption, int left, int top) {
        auto* button = new QPushButton(caption, client);
        button->setObjectName(QLatin1String(name));
        button->setFont(buttonFont);
        button->setAutoDefault(true);  // Enter clicks the focused button, as Space does
        button->setGeometry(twipRect(left, top, 1005, 435));
        return button;
    };
    addButton_ = makeButton("Add", QStringLiteral("Add"), 3578, 615);
    removeButton_ = makeButton("Delete", QStringLiteral("Remove"), 3578, 1425);
    selectAllButton_ = makeButton("SelectAll", QStringLiteral("Select All"), 3570, 2220);
    sourceFolderButton_ = makeButton("SrcBrowser", QStringLiteral("Browser"), 180, 3030);
    viewButton_ = makeButton("SrcView", QStringLiteral("View"), 1440, 3030);
    deleteFileButton_ = makeButton("DeleteFile", QStringLiteral("Delete"), 2790, 3030);
    compressButton_ = makeButton("Compress", QStringLiteral("Compress"), 5910, 3030);
    runTotalsLabel_ =
        makeLabel("lblRunTotals", QString(),
                  twipRect(210, kRunTotalsTop, kClientWidth - 2 * 210, kRunTotalsHeight));
    runTotalsLabel_->setAccessibleName(QStringLiteral("Run totals"));
    runTotalsLabel_->hide();

    // The lower part: the preview on the left, the information panel on the right. Both are
    // filled by the inspection windows.
    preview_ = new QWidget(client);
    preview_->setObjectName(QStringLiteral("LEAD1"));
    preview_->setGeometry(twipRect(338, 3750, 3435, 2595));
    infoPanel_ = new QWidget(client);
    infoPanel_->setObjectName(QStringLiteral("InfoPanel"));
    // Eight rows 312 twips apart, captions from x = 4230, value fields up to 5640 + 1845.
    infoPanel_->setGeometry(twipRect(4230, kLowerPartTop, 5640 + 1845 - 4230, 7 * 312 + 285));

    sourceFileList_->setAccessibleName(QStringLiteral("Source Files(s)"));
    workFileList_->setAccessibleName(QStringLiteral("Destination Files(s)"));
    preview_->setAccessibleName(QStringLiteral("Preview"));
}

void MainWindow::setControlsTabOrder() {
    setTabOrder(sourceFolderButton_, viewButton_);
    setTabOrder(viewButton_, compressButton_);
    setTabOrder(compressButton_, deleteFileButton_);
    setTabOrder(deleteFileButton_, selectAllButton_);
    setTabOrder(selectAllButton_, removeButton_);
    setTabOrder(removeButton_, addButton_);
    setTabOrder(addButton_, workFileList_);
    setTabOrder(workFileList_, sourceFileList_);
    sourceFolderButton_->setFocus();
}

void MainWindow::buildMenu() {
    QMenu* option = menuBar()->addMenu(QStringLiteral("&Option"));
    option->setObjectName(QStringLiteral("mOption"));
    previewAction_ = option->addAction(QStringLiteral("&Preview"));
    previewAction_->setObjectName(QStringLiteral("mPreviewImage"));
    previewAction_->setCheckable(true);
    previewAction_->setChecked(true);
    infoAction_ = option->addAction(QStringLiteral("&Info"));
    infoAction_->setObjectName(QStringLiteral("mImageInfo"));
    infoAction_->setCheckable(true);
    infoAction_->setChecked(true);
    aboutAction_ = menuBar()->addAction(QStringLiteral("&About"));
    aboutAction_->setObjectName(QStringLiteral("mAbout"));

    connect(previewAction_, &QAction::triggered, this, [this] {
        appState().PreviewEnabled = previewAction_->isChecked();
        applyHeight();
    });
    connect(infoAction_, &QAction::triggered, this, [this] {
        appState().ImageInfoEnabled = infoAction_->isChecked();
        applyHeight();
    });
    connect(aboutAction_, &QAction::triggered, this, &MainWindow::aboutClick);
}

void MainWindow::connectControls() {
    connect(sourceFileList_, &FileListBox::listClicked, this, &MainWindow::srcFileListClick);
    connect(workFileList_, &FileListBox::listClicked, this, &MainWindow::workFileListClick);
    connect(workFileList_, &FileListBox::pathsDropped, this, &MainWindow::dropOnWorkList);
    workFileList_->setAcceptsFileDrops(true);
    setAcceptDrops(true);
    connect(sourceFileList_, &FileListBox::listDoubleClicked, this, &MainWindow::srcViewClick);
    connect(workFileList_, &FileListBox::listDoubleClicked, this, &MainWindow::srcViewClick);
    connect(addButton_, &QPushButton::clicked, this, &MainWindow::addClick);
    connect(removeButton_, &QPushButton::clicked, this, &MainWindow::removeClick);
    connect(deleteFileButton_, &QPushButton::clicked, this, &MainWindow::deleteFileClick);
    connect(selectAllButton_, &QPushButton::clicked, this, &MainWindow::selectAllClick);
    connect(sourceFolderButton_, &QPushButton::clicked, this, &MainWindow::srcBrowserClick);
    connect(viewButton_, &QPushButton::clicked, this, &MainWindow::srcViewClick);
    connect(compressButton_, &QPushButton::clicked, this, &MainWindow::compressClick);
}

void MainWindow::applyHeight() {
    const bool shown = lowerPartShown();
    const int clientHeight = twipsToPixels(shown ? kFullClientHeight : kShortClientHeight);
    preview_->setVisible(shown);
    infoPanel_->setVisible(shown);
    centralWidget()->setFixedSize(twipsToPixels(kClientWidth), clientHeight);
    setFixedSize(twipsToPixels(kClientWidth), menuBar()->sizeHint().height() + clientHeight);
}

void MainWindow::setPreviewControl(QWidget* control) {
    control->setParent(preview_->parentWidget());
    control->setObjectName(preview_->objectName());
    control->setAccessibleName(preview_->accessibleName());
    control->setGeometry(preview_->geometry());
    control->setHidden(preview_->isHidden());
    control->stackUnder(preview_);
    delete preview_;
    preview_ = control;
}

bool MainWindow::lowerPartShown() const {
    return previewAction_->isChecked() || infoAction_->isChecked();
}

void MainWindow::load(const QString& startDir) {
    AppState& state = appState();
    state.ListClickUpdatesEnabled = true;
    state.CrossDeselectEnabled = true;
    state.AllSelected = false;
    state.ImageInfoEnabled = infoAction_->isChecked();
    state.PreviewEnabled = previewAction_->isChecked();
    state.SourceDir = startDir;
    fillSourceList();
    updateWorkCount();
    compressionSettings() = CompressionSettings::defaults(state.SourceDir);
}

void MainWindow::fillSourceList() {
    sourceFileList_->clearItems();
    for (const QString& name : scanSourceDirectory(appState().SourceDir)) {
        sourceFileList_->addItem(listItemText(name), appState().SourceDir);
    }
    updateSourceCount();
    if (sourceFileList_->count() > 0) {
        sourceFileList_->setSelected(0, true);  // runs the click behaviour for the first file
    }
}

void MainWindow::selectSourceFile(const QString& fileName) {
    const int index = sourceFileList_->items().indexOf(listItemText(fileName));
    if (index < 0)
        return;
    appState().ListClickUpdatesEnabled = false;
    for (int i = 0; i < sourceFileList_->count(); ++i)
        sourceFileList_->setSelected(i, false);
    appState().ListClickUpdatesEnabled = true;
    sourceFileList_->setSelected(index, true);
}

void MainWindow::addSourceFile(const QString& fileName) {
    sourceFileList_->addItem(listItemText(fileName), appState().SourceDir);
    updateSourceCount();
}

void MainWindow::updateSourceCount() {
    setCountText(sourceCountLabel_, sourceCountText(sourceFileList_->count()),
                 twipRect(210, 240, 3015, 345));
}

void MainWindow::updateWorkCount() {
    setCountText(workCountLabel_, workCountText(workFileList_->count()),
                 twipRect(4920, 240, 3015, 345));
}

void MainWindow::setCountText(QLabel* label, const QString& text, const QRect& design) {
    // A count text wider than the design's label widens it to the right, and once it reaches the
    // window's edge, to the left.
    label->setText(text);
    const int needed = label->fontMetrics().horizontalAdvance(text) + 2;
    const int width = std::max(design.width(), needed);
    const int rightEdge = twipsToPixels(kClientWidth) - 2;
    const int left = std::max(0, std::min(design.left(), rightEdge - width));
    label->setGeometry(left, design.top(), width, design.height());
}

void MainWindow::listClick(FileListBox* clicked, FileListBox* other) {
    AppState& state = appState();
    if (state.CrossDeselectEnabled) {
        // Deselecting raises the other list's click, which must neither deselect nor refresh.
        state.CrossDeselectEnabled = false;
        const bool updates = state.ListClickUpdatesEnabled;
        state.ListClickUpdatesEnabled = false;
        for (int i = 0; i < other->count(); ++i) {
            other->setSelected(i, false);
        }
        state.ListClickUpdatesEnabled = updates;
        state.CrossDeselectEnabled = true;
    }
    const int current = clicked->currentItemIndex();
    if (current == -1) {
        return;
    }
    state.CurrentImagePath = itemPath(clicked, current);
    if (!state.ImageInfoEnabled || !state.ListClickUpdatesEnabled) {
        return;
    }
    if (inspectionHook_) {
        inspectionHook_();
    }
}

void MainWindow::srcFileListClick() {
    listClick(sourceFileList_, workFileList_);
}

void MainWindow::workFileListClick() {
    listClick(workFileList_, sourceFileList_);
}

void MainWindow::addClick() {
    AppState& state = appState();
    state.ListClickUpdatesEnabled = false;
    if (sourceFileList_->currentItemIndex() != -1) {
        bool allSelected = true;
        for (int i = 0; i < sourceFileList_->count() && allSelected; ++i) {
            allSelected = sourceFileList_->isSelected(i);
        }
        if (!allSelected) {
            for (int i = 0; i < sourceFileList_->count(); ++i) {
                if (!sourceFileList_->isSelected(i)) {
                    continue;
                }
                const QString text = sourceFileList_->itemText(i);
                bool listed = false;
                for (int j = 0; j < workFileList_->count() && !listed; ++j) {
                    listed = workFileList_->itemText(j) == text;
                }
                if (!listed) {
                    workFileList_->addItem(text, sourceFileList_->itemFolder(i));
                }
            }
        } else {
            // Every source file chosen: the work list becomes a copy of the source list.
            for (int j = workFileList_->count() - 1; j >= 0; --j) {
                workFileList_->removeItem(j);
            }
            for (int i = 0; i < sourceFileList_->count(); ++i) {
                workFileList_->addItem(sourceFileList_->itemText(i),
                                       sourceFileList_->itemFolder(i));
            }
        }
    }
    updateWorkCount();
    state.ListClickUpdatesEnabled = true;
}

void MainWindow::removeClick() {
    AppState& state = appState();
    state.ListClickUpdatesEnabled = false;
    if (workFileList_->currentItemIndex() != -1) {
        for (int j = workFileList_->count() - 1; j >= 0; --j) {
            if (workFileList_->isSelected(j)) {
                workFileList_->removeItem(j);
            }
        }
    }
    updateWorkCount();
    state.ListClickUpdatesEnabled = true;
}

void MainWindow::deleteFileClick() {
    AppState& state = appState();
    state.ListClickUpdatesEnabled = false;
    QStringList failures;
    QStringList trashed;
    if (sourceFileList_->currentItemIndex() != -1) {
        const Trash trash;
        for (int i = sourceFileList_->count() - 1; i >= 0; --i) {
            if (!sourceFileList_->isSelected(i)) {
                continue;
            }
            const QString path = QDir::cleanPath(itemPath(sourceFileList_, i));
            if (trashed.contains(path)) {
                // The same file listed twice: gone with its first item.
                sourceFileList_->removeItem(i);
                continue;
            }
            QString error;
            if (trash.moveToTrash(path, &error)) {
                trashed.append(path);
                sourceFileList_->removeItem(i);
            } else {
                failures.prepend(listItemFileName(sourceFileList_->itemText(i)) +
                                 QStringLiteral(": ") + error);
            }
        }
    }
    updateSourceCount();
    takeOffWorkList(trashed);
    state.ListClickUpdatesEnabled = true;
    if (!trashed.isEmpty()) {
        if (trashed.contains(QDir::cleanPath(state.CurrentImagePath)))
            state.CurrentImagePath.clear();
        if (filesGoneHook_)
            filesGoneHook_(trashed);
    }
    if (!failures.isEmpty()) {
        showMessage(this, QStringLiteral("Could not move to the trash:\n") + failures.join('\n'));
    }
}

// Takes the work items that name any of the paths off the work list.
void MainWindow::takeOffWorkList(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    for (int j = workFileList_->count() - 1; j >= 0; --j) {
        if (paths.contains(QDir::cleanPath(itemPath(workFileList_, j))))
            workFileList_->removeItem(j);
    }
    updateWorkCount();
}

void MainWindow::setRunTotals(const QString& text) {
    runTotalsLabel_->setText(text);
    runTotalsLabel_->setToolTip(text);
    runTotalsLabel_->setVisible(!text.isEmpty());
}

void MainWindow::dropOnWorkList(const QStringList& paths) {
    AppState& state = appState();
    QStringList notAdded;
    QString folder;
    state.ListClickUpdatesEnabled = false;
    for (const QString& path : paths) {
        const QFileInfo file(path);
        if (file.isDir()) {
            if (folder.isEmpty())
                folder = path;
            continue;
        }
        const QString name = file.fileName();
        const QString from = file.absolutePath() + QLatin1Char('/');
        if (!file.isFile() || !hasSourceSuffix(name)) {
            notAdded << QStringLiteral("%1: not an image file of a kind PIXAVANT lists").arg(path);
            continue;
        }
        const QString text = listItemText(name);
        const int listed = workFileList_->items().indexOf(text);
        if (listed < 0) {
            workFileList_->addItem(text, from);
        } else if (QDir::cleanPath(itemPath(workFileList_, listed)) != path) {
            notAdded << QStringLiteral("%1: %2 is listed already, from %3")
                            .arg(path, name, QFileInfo(itemPath(workFileList_, listed)).path());
        }
    }
    updateWorkCount();
    state.ListClickUpdatesEnabled = true;
    if (!folder.isEmpty())
        openSourceFolder(folder);
    if (!notAdded.isEmpty())
        showMessage(this, QStringLiteral("Not added to the work list:\n") + notAdded.join('\n'));
}

void MainWindow::dropOnWindow(const QStringList& paths) {
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir()) {
            openSourceFolder(path);
            return;
        }
    }
}

bool MainWindow::openSourceFolder(const QString& dir) {
    const QFileInfo folder(dir);
    if (!folder.isDir() || !folder.isReadable() || !folder.isExecutable()) {
        showMessage(this, QStringLiteral("The folder %1 cannot be opened.").arg(dir));
        return false;
    }
    QString path = QDir::cleanPath(folder.absoluteFilePath());
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    appState().SourceDir = path;
    compressionSettings().OutputDir = path;
    fillSourceList();
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (carriesFolder(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (carriesFolder(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (!carriesFolder(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    dropOnWindow(droppedPaths(event->mimeData()));
}

void MainWindow::findSelectedList() {
    AppState& state = appState();
    state.SelectedList = 0;
    state.AllSelected = true;
    for (int i = 0; i < sourceFileList_->count(); ++i) {
        if (sourceFileList_->isSelected(i)) {
            state.SelectedList = 1;
        } else {
            state.AllSelected = false;
        }
    }
    if (state.SelectedList == 1) {
        return;
    }
    for (int j = 0; j < workFileList_->count(); ++j) {
        if (workFileList_->isSelected(j)) {
            state.SelectedList = 2;
        } else {
            state.AllSelected = false;
        }
    }
}

const QListWidget* MainWindow::selectedList() {
    findSelectedList();
    switch (appState().SelectedList) {
        case 1:
            return sourceFileList_;
        case 2:
            return workFileList_;
        default:
            return nullptr;
    }
}

QString MainWindow::itemPath(const QListWidget* list, int index) const {
    const FileListBox* box = list == workFileList_ ? workFileList_ : sourceFileList_;
    if (list != box || index < 0 || index >= box->count())
        return QString();
    const QString folder = box->itemFolder(index);
    return listItemPath(folder.isEmpty() ? appState().SourceDir : folder, box->itemText(index));
}

RunLists& MainWindow::runLists() {
    return *runLists_;
}

void MainWindow::selectAllClick() {
    AppState& state = appState();
    state.ListClickUpdatesEnabled = false;
    findSelectedList();
    if (state.SelectedList == 1) {
        const bool select = !state.AllSelected;
        for (int i = 0; i < sourceFileList_->count(); ++i) {
            sourceFileList_->setSelected(i, select);
        }
    } else if (state.SelectedList == 2) {
        const bool select = !state.AllSelected;
        for (int j = 0; j < workFileList_->count(); ++j) {
            state.CrossDeselectEnabled = false;
            workFileList_->setSelected(j, select);
            state.CrossDeselectEnabled = true;
        }
    }
    state.ListClickUpdatesEnabled = true;
}

void MainWindow::srcBrowserClick() {
    DirectoryBrowser::pickSourceDirectory(this);
    fillSourceList();
}

void MainWindow::srcViewClick() {
    if (viewHook_) {
        viewHook_();
    }
}

void MainWindow::compressClick() {
    if (workFileList_->count() == 0) {
        showMessage(this, QStringLiteral("No files selected."));
        return;
    }
    if (compressHook_) {
        compressHook_();
    }
}

void MainWindow::previewImageClick() {
    previewAction_->trigger();
}

void MainWindow::imageInfoClick() {
    infoAction_->trigger();
}

void MainWindow::aboutClick() {
    AboutBox about(this);
    about.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (event->isAccepted()) {
        emit closed();
    }
}

}  // namespace pixavant
