#pragma once

#include <QStringList>
#include <functional>

#include "inspect/ViewerSource.h"

namespace pixavant {

// What the information panel and the preview need of the window they are built into; the viewer
// they open reads the same window's lists.
class InspectionHost : public ViewerSource {
  public:
    using Hook = std::function<void()>;
    using PathsHook = std::function<void(const QStringList& paths)>;

    // Where the information panel goes.
    virtual QWidget* infoPanelArea() const = 0;
    // Puts the preview's display control in place of the window's preview area.
    virtual void setPreviewControl(QWidget* control) = 0;
    // Runs when a list click may refresh the information panel and preview.
    virtual void setInspectionHook(Hook hook) = 0;
    // "View" and the double-clicks.
    virtual void setViewHook(Hook hook) = 0;
    // Runs when files have gone from the disk ("Delete"), with their paths: the panel and the
    // preview must not go on showing one of them.
    virtual void setFilesGoneHook(PathsHook hook) = 0;
};

}  // namespace pixavant
