#pragma once

#include <QObject>
#include <QString>

#include "imaging/FileInfo.h"
#include "inspect/Fit.h"
#include "inspect/InspectionHost.h"

namespace pixavant {

class ImageDisplay;
class InfoPanel;

// The main window's inspection of the file last clicked: the information panel and the preview.
// Both always show the same file: when the panel moves to another file (or to none) and the
// preview cannot show it too, the preview is emptied rather than left showing the earlier one.
class Inspection : public QObject {
    Q_OBJECT

  public:
    // Builds the panel and the preview into the window and takes the preview's box. Must run
    // before the window loads (its first list click already shows a file).
    explicit Inspection(InspectionHost& window);

    // What a list click does once it made its item the current file: empties the panel, reads the
    // file's information, shows it and (when "&Preview" is checked) the image. A file whose
    // information cannot be read leaves the panel empty; any later failure shows the panel's
    // failure state. Never shows a message.
    void inspectCurrentFile();
    // Files gone from the disk: when the panel shows one of them, the panel and the preview are
    // emptied.
    void filesGone(const QStringList& paths);
    // The file the panel and the preview show; empty when they show none.
    const QString& shownPath() const { return shownPath_; }

    // Shows the file in the preview, fitted into the preview's box. False when it cannot.
    bool showPreview(const QString& path);

    InfoPanel& panel() { return *panel_; }
    ImageDisplay& preview() { return *preview_; }
    const PreviewBox& previewBox() const { return previewBox_; }
    const imaging::FileInfoRecord& fileInfo() const { return fileInfo_; }

  private:
    InfoPanel* panel_ = nullptr;
    ImageDisplay* preview_ = nullptr;
    PreviewBox previewBox_;
    imaging::FileInfoRecord fileInfo_;
    QString shownPath_;
    QString previewPath_;  // the file whose image the preview holds
};

// Plugs the information panel, the preview and the viewer into the window's hooks. Call it
// before the window loads its start directory. The window owns what it creates.
Inspection* installInspection(InspectionHost& window);

}  // namespace pixavant
