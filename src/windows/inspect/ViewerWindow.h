#pragma once

#include <QDialog>
#include <cstdint>

#include "inspect/Fit.h"
#include "inspect/ViewerSource.h"

class QPushButton;

namespace pixavant {

class ImageDisplay;

// The viewer ("frmViewer"): shows the files of the list that holds the selection one at a time,
// at their own size within its display area, starting from the list's current item; "Previous"
// and "Next" step through every item of that list without wrapping around. The title is the path
// of the file shown ("Form1" until the first one). A file that cannot be shown changes nothing
// and shows no message.
//
// Keys: Left and Page Up step as "Previous" does, Right and Page Down as "Next" does; Z toggles
// between the image reduced to fit and the image at actual size (dragged with the mouse where it
// is larger than the window).
class ViewerWindow : public QDialog {
    Q_OBJECT

  public:
    // Loads the window: takes the display's box, finds the list and shows its current item.
    explicit ViewerWindow(ViewerSource& source);

    // Opens a viewer over the source's window and waits until it is closed.
    static void open(ViewerSource& source);

    void nextClick();
    void previousClick();
    // Between reduced to fit and actual size; the file shown is shown again.
    void toggleActualSize();

    int16_t currentIndex() const { return currentIndex_; }
    ImageDisplay& display() { return *display_; }
    const PreviewBox& previewBox() const { return previewBox_; }

  private:
    QString itemPath(const QListWidget* list, int index) const;
    void addKeys();
    // Shows the file; false when it cannot (the window then stays as it was, but for the display's
    // geometry when the load failed).
    bool showFile(const QString& path);

    ViewerSource& source_;
    ImageDisplay* display_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    PreviewBox previewBox_;
    int16_t currentIndex_ = 0;
    QString shownPath_;
};

}  // namespace pixavant
