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
};

// Plugs the information panel, the preview and the viewer into the window's hooks. Call it
// before the window loads its start directory. The window owns what it creates.
Inspection* installInspection(InspectionHost& window);

}  // namespace pixavant
