#pragma once

#include <QString>
#include <QWidget>

#include "compare/ComparePane.h"
#include "compare/CompareWorker.h"
#include "settings/CompressionSettings.h"

class QLabel;
class QPushButton;

namespace pixavant {

class CompareSource;

// "Compare": the file last clicked in the main window beside what the options dialog's current
// choices would make of it, with the bytes of both, their ratio and, for lossy types, a quality
// figure. Each change of the choices encodes again on a worker thread ("Working..." meanwhile): the
// part in view first, then the whole output. Nothing is written to disk.
//
// Keys: F toggles fitted and 100% views, the arrow keys pan at 100%, Escape closes.
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
    // What the figures line says, for the user and for tests.
    QString figuresText() const;
    QString statusText() const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

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
    QString shownPath_;  // the file whose original the left pane shows
    QSize outputSize_;
    QString choices_;  // of the newest request, in the dialog's words
};

}  // namespace pixavant
