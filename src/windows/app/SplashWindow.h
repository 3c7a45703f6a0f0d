#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace pixavant {

// The start-up window ("BeginForm"): the logo, the program's captions and the maker, shown for a
// fixed time. When the time is up it closes itself and emits finished().
class SplashWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kDefaultDurationMs = 4000;

    explicit SplashWindow(int durationMs = kDefaultDurationMs, QWidget* parent = nullptr);

    // The 224 x 33 pixel logo.
    static QImage drawLogo();

  signals:
    void finished();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void timerTick();

    QTimer closeTimer_;
};

}  // namespace pixavant
