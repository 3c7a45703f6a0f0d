#include "inspect/Inspection.h"

#include <exception>

#include "imaging/ImagingStatus.h"
#include "inspect/ImageDisplay.h"
#include "inspect/InfoPanel.h"
#include "inspect/ViewerWindow.h"
#include "settings/AppState.h"

namespace pixavant {

namespace {
// Where the main window puts its information panel area, in twips.
constexpr int kPanelLeft = 4230;
constexpr int kPanelTop = 3735;
}  // namespace

Inspection::Inspection(InspectionHost& window) : QObject(window.hostWindow()) {
    setObjectName(QStringLiteral("Inspection"));
    panel_ = new InfoPanel(window.infoPanelArea(), kPanelLeft, kPanelTop);
    preview_ = new ImageDisplay;
    window.setPreviewControl(preview_);
    previewBox_ = preview_->previewBox();
}

void Inspection::inspectCurrentFile() {
    const QString path = appState().CurrentImagePath;
    panel_->clear();
    try {
        if (imaging::readFileInfo(path, fileInfo_) != 1)
            return;  // unreadable: the fields stay empty, the preview as it was
        panel_->showImageInfo(fileInfo_);
        if (appState().PreviewEnabled && !showPreview(path))
            panel_->showFailure();
    } catch (const std::exception&) {
        panel_->showFailure();
    }
}

bool Inspection::showPreview(const QString& path) {
    preview_->readFileInfo(path, 1);  // the fit below reads the size it leaves
    preview_->setDisplayMode(ImageDisplay::kScaleToFit);
    const std::optional<ControlGeometry> fitted =
        fitPreview(preview_->bitmapWidth(), preview_->bitmapHeight(), previewBox_);
    if (!fitted)
        return false;
    preview_->setControlGeometry(*fitted);
    return preview_->load(path, 0, 0, 1) == imaging::kSuccess;
}

Inspection* installInspection(InspectionHost& window) {
    auto* inspection = new Inspection(window);
    window.setInspectionHook([inspection] { inspection->inspectCurrentFile(); });
    window.setViewHook([&window] { ViewerWindow::open(window); });
    return inspection;
}

}  // namespace pixavant
