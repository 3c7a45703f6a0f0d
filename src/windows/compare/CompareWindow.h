#pragma once

#include <QString>
#include <QWidget>

#include "compare/ComparePane.h"
#include "compare/CompareWorker.h"
#include "settings/CompressionSettings.h"

class QGridLayout;
class QLabel;
class QPushButton;

namespace pixavant {

class CompareSource;

// "Compare": the file last clicked in the main window beside what the options dialog's current
// choices would make of it, with the bytes of both, their ratio and, for lossy types, a quality
// figure. Each change of the choices encodes again on a worker thread ("Working..." meanwhile): a
// preview first (fitted, the whole picture reduced to the view; at 100 %, the part in view), then
// the whole output. Nothing is written to disk.
//
// Side by side, or one over the other: the original left of a divider and the result right of it.
//
// Keys: F toggles fitted and 100% views, the arrow keys pan at 100%, D toggles side by side and
// one over the other, Shift with Left or Right moves the divider, Escape closes.
class CompareWindow : public QWidget {
    Q_OBJECT

  public:
    CompareWindow(const CompareSource& source, QWidget* parent = nullptr);

    // Shows the clicked file as `choices` would write it.
    void setChoices(const CompressionSettings& choices);
    // The choices cannot be used: `text` says why (a number that does not fit its field).
    void setRefusal(const QString& text);

    CompareWorker& worker() { return *worker_; }
    bool fitted() const { return state_.fitted; }
    void setFitted(bool fitted);
    bool divided() const { return state_.divided; }
    void setDivided(bool divided);
    double divider() const { return state_.divider; }
    // Moves the divider by `step`, a fraction of the pane's width.
    void moveDivider(double step);
    // What the figures line says, for the user and for tests.
    QString figuresText() const;
    QString statusText() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showResult(const CompareResult& result);
    void showFailure(const QString& message, const QString& details);
    void pan(QPointF moved);
    QSize viewSize() const;

    const CompareSource& source_;
    CompareViewState state_;
    CompareWorker* worker_ = nullptr;
    ComparePane* originalPane_ = nullptr;
    ComparePane* resultPane_ = nullptr;
    QLabel* originalCaption_ = nullptr;
    QLabel* resultCaption_ = nullptr;
    QLabel* figures_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* zoom_ = nullptr;
    QPushButton* divide_ = nullptr;
    QGridLayout* panes_ = nullptr;
    QString shownPath_;  // the file whose original the left pane shows
    QSize outputSize_;
    QString choices_;  // of the newest request, in the dialog's words
};

}  // namespace pixavant
