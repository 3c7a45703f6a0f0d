#pragma once

class QMessageBox;
class QWidget;

namespace pixavant {

// A window of fixed size gets no maximise button (the window manager offers one otherwise): a
// title, a close button and, for a main window, a minimise button.
void keepWindowFixed(QWidget* window);

// Gives every control of a window that has no accessible name yet its caption as its name, so
// that screen readers can read the window: a button its text, a field the text of the label that
// names it (its buddy), a group its title. Controls without a caption are named by their window.
void nameControls(QWidget* window);

// Makes a message box wide enough that the window manager shows its title whole.
void widenForTitle(QMessageBox& box);

}  // namespace pixavant
