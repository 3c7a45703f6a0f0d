#include "inspect/Inspection.h"

#include <QDir>
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
    shownPath_ = path;
    try {
        if (imaging::readFileInfo(path, fileInfo_) != imaging::kSuccess) {
            // Unreadable: the fields stay empty, and the preview shows nothing either.
            preview_->clearImage();
            previewPath_.clear();
            return;
        }
        panel_->showImageInfo(fileInfo_);
        if (appState().PreviewEnabled) {
            if (!showPreview(path)) {
                panel_->showFailure();
                preview_->clearImage();
                previewPath_.clear();
            }
        } else if (previewPath_ != path) {
            // "&Preview" unchecked: the preview is not refreshed, but never shows another file.
            preview_->clearImage();
            previewPath_.clear();
        }
    } catch (const std::exception&) {
        panel_->showFailure();
        preview_->clearImage();
        previewPath_.clear();
    }
}

void Inspection::filesGone(const QStringList& paths) {
    if (shownPath_.isEmpty() || !paths.contains(QDir::cleanPath(shownPath_)))
        return;
    panel_->clear();
    preview_->clearImage();
    shownPath_.clear();
    previewPath_.clear();
}

bool Inspection::showPreview(const QString& path) {
    preview_->readFileInfo(path);  // the fit below reads the size it leaves
    preview_->setDisplayMode(ImageDisplay::kScaleToFit);
    const std::optional<ControlGeometry> fitted =
        fitPreview(preview_->bitmapWidth(), preview_->bitmapHeight(), previewBox_);
    if (!fitted)
        return false;
    preview_->setControlGeometry(*fitted);
    if (preview_->load(path, 0) != imaging::kSuccess)
        return false;
    previewPath_ = path;
    return true;
}

Inspection* installInspection(InspectionHost& window) {
    auto* inspection = new Inspection(window);
    window.setInspectionHook([inspection] { inspection->inspectCurrentFile(); });
    window.setViewHook([&window] { ViewerWindow::open(window); });
    window.setFilesGoneHook(
        [inspection](const QStringList& paths) { inspection->filesGone(paths); });
    return inspection;
}

}  // namespace pixavant
