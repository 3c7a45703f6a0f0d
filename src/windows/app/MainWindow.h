#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>

#include "inspect/InspectionHost.h"

class QAction;
class QLabel;
class QPushButton;

namespace pixavant {

class FileListBox;
class RunLists;

// The main window ("FileList"): the source list and the work list with their count labels and
// buttons, the preview and information area below them, and the menu.
//
// Construction builds the window; load() runs the start-up steps (flags, start directory, scan,
// settings defaults). The module-level state lives in appState().
//
// The windows it opens get what they need of it through narrow interfaces: the inspection and the
// viewer through InspectionHost, the progress window through runLists().
class MainWindow : public QMainWindow, public InspectionHost {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The live main window, if any.
    static MainWindow* instance();

    // Start-up: sets the flags, SourceDir := startDir (which must end in "/"), scans it, writes the
    // work count and resets the settings record with OutputDir := SourceDir.
    void load(const QString& startDir);

    FileListBox* sourceList() const { return sourceFileList_; }
    FileListBox* workList() const { return workFileList_; }
    QLabel* sourceCountLabel() const { return sourceCountLabel_; }
    QLabel* workCountLabel() const { return workCountLabel_; }
    // The line between the buttons and the preview that tells what the last run achieved (empty
    // before the first run and while a run goes on).
    QLabel* runTotalsLabel() const { return runTotalsLabel_; }
    void setRunTotals(const QString& text);

    // The lower part of the window: the preview area and the information panel area.
    QWidget* previewArea() const { return preview_; }
    QWidget* infoPanelArea() const override { return infoPanel_; }
    // Puts the preview's display control in place of the preview area: it takes the area's
    // geometry, name and visibility, and the area is discarded.
    void setPreviewControl(QWidget* control) override;

    // Extension points for the windows that other parts of the program provide.
    // Runs when a list click may refresh the information panel and preview: after the click made
    // its item the current file, only while "&Info" is checked and list updates are enabled.
    void setInspectionHook(Hook hook) override { inspectionHook_ = std::move(hook); }
    // "View" and the double-clicks: opens the viewer.
    void setViewHook(Hook hook) override { viewHook_ = std::move(hook); }
    // "Delete" moved files to the trash.
    void setFilesGoneHook(PathsHook hook) override { filesGoneHook_ = std::move(hook); }
    // "Compress" with a non-empty work list: opens the compression options dialog.
    void setCompressHook(Hook hook) { compressHook_ = std::move(hook); }

    // Rescans SourceDir into the source list and selects its first item.
    void fillSourceList();
    // Makes the source list's item of a file of SourceDir its only selection, as a click on it
    // would; nothing when the file is not listed.
    void selectSourceFile(const QString& fileName);
    // Adds a file of SourceDir to the source list (as the batch run does with its outputs) and
    // rewrites the source count.
    void addSourceFile(const QString& fileName);
    void updateSourceCount();
    void updateWorkCount();

    // Drops of local files and folders. On the work list, files of the kinds the source scan
    // lists are added as "Add" adds them (a name already listed is not added again), each from
    // its own folder; anywhere on the window, a folder becomes the source folder, as the Browser
    // makes it. What cannot be added is said in one message.
    void dropOnWorkList(const QStringList& paths);
    void dropOnWindow(const QStringList& paths);
    // SourceDir := dir (with a "/" added), OutputDir := SourceDir, and the source list rescanned;
    // false, changing nothing, when dir is not a folder that can be read.
    bool openSourceFolder(const QString& dir);

    // Sets SelectedList and AllSelected from the two lists' selections.
    void findSelectedList();

    // The viewer's source: this window and the list that holds the selection.
    QWidget* hostWindow() override { return this; }
    const QListWidget* selectedList() override;
    QString itemPath(const QListWidget* list, int index) const override;
    // The lists as a batch run reads and extends them.
    RunLists& runLists();

    // The handlers of the window's controls.
    void srcFileListClick();
    void workFileListClick();
    void addClick();
    void removeClick();
    void deleteFileClick();
    void selectAllClick();
    void srcBrowserClick();
    void srcViewClick();
    void compressClick();
    void previewImageClick();
    void imageInfoClick();
    void aboutClick();

    // Whether the lower part (preview and information panel) is shown.
    bool lowerPartShown() const;

  signals:
    // The window was closed: the program ends.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void buildWindow();
    void buildControls(QWidget* client);
    void setControlsTabOrder();
    void buildMenu();
    void connectControls();
    void listClick(FileListBox* clicked, FileListBox* other);
    void applyHeight();
    void setCountText(QLabel* label, const QString& text, const QRect& design);
    void takeOffWorkList(const QStringList& paths);

    QLabel* sourceCountLabel_ = nullptr;
    QLabel* workCountLabel_ = nullptr;
    FileListBox* sourceFileList_ = nullptr;
    FileListBox* workFileList_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QPushButton* selectAllButton_ = nullptr;
    QPushButton* sourceFolderButton_ = nullptr;
    QPushButton* viewButton_ = nullptr;
    QPushButton* deleteFileButton_ = nullptr;
    QPushButton* compressButton_ = nullptr;
    QLabel* runTotalsLabel_ = nullptr;
    QWidget* preview_ = nullptr;
    QWidget* infoPanel_ = nullptr;
    QAction* previewAction_ = nullptr;
    QAction* infoAction_ = nullptr;
    QAction* aboutAction_ = nullptr;

    std::unique_ptr<RunLists> runLists_;
    Hook inspectionHook_;
    Hook viewHook_;
    PathsHook filesGoneHook_;
    Hook compressHook_;
};

}  // namespace pixavant
