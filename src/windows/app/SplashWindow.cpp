#include "app/SplashWindow.h"

#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "common/WindowMetrics.h"

namespace pixavant {

namespace {
const QColor kBackground(255, 192, 128);
const QColor kBlue(0, 0, 255);
}  // namespace

SplashWindow::SplashWindow(int durationMs, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("BeginForm"));
    setWindowTitle(QStringLiteral("PIXAVANT"));
    setFixedSize(twipsToPixels(6390), twipsToPixels(2985));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kBackground);
    palette.setColor(QPalette::WindowText, kBlue);
    setPalette(palette);

    auto* frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setGeometry(twipRect(90, 30, 6195, 2835));

    auto* image = new QLabel(frame);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(QPixmap::fromImage(drawLogo()));
    image->setGeometry(twipRect(1410, 570, 3360, 495));

    auto makeLabel = [frame](const char* name, const QString& text, QRect rect, QFont font) {
        auto* label = new QLabel(text, frame);
        label->setObjectName(QLatin1String(name));
        label->setFont(font);
        label->setGeometry(rect);
        // Room for the platform font's taller lines.
        label->resize(std::max(rect.width(), label->sizeHint().width()),
                      std::max(rect.height(), label->sizeHint().height()));
        return label;
    };
    makeLabel("Label2", QStringLiteral("Featuring PIXAVANT !"), twipRect(360, 1590, 5175, 315),
              sansFont(9.75));
    makeLabel("Label1", QStringLiteral("Professional Image Compression Program"),
              twipRect(360, 1860, 4575, 315), sansFont(9.75));
    makeLabel("lblCompany", QStringLiteral("Pixavant Software"), twipRect(360, 2400, 5565, 255),
              sansFont(8.25));

    closeTimer_.setObjectName(QStringLiteral("Timer1"));
    closeTimer_.setSingleShot(true);
    closeTimer_.setInterval(durationMs);
    connect(&closeTimer_, &QTimer::timeout, this, &SplashWindow::timerTick);
}

void SplashWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    if (!closeTimer_.isActive()) {
        closeTimer_.start();
    }
}

void SplashWindow::timerTick() {
    close();
    emit finished();
}

QImage SplashWindow::drawLogo() {
    QImage logo(224, 33, QImage::Format_ARGB32_Premultiplied);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);

    // A rounded bar shading from deep blue to violet.
    QLinearGradient bar(0, 0, 224, 33);
    bar.setColorAt(0.0, QColor(0, 32, 160));
    bar.setColorAt(1.0, QColor(96, 0, 160));
    painter.setPen(Qt::NoPen);
    painter.setBrush(bar);
    painter.drawRoundedRect(QRectF(0.5, 0.5, 223, 32), 6, 6);

    // A small mosaic of pixels at the left, growing coarser: compression at a glance.
    const QColor tiles[] = {QColor(255, 192, 128), QColor(255, 224, 96), QColor(255, 140, 64),
                            QColor(255, 255, 255)};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            painter.setBrush(tiles[(row + col) % 4]);
            painter.drawRect(QRectF(7 + col * 8, 5 + row * 8, 7, 7));
        }
    }

    // The name.
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setItalic(true);
    font.setPixelSize(22);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    QPainterPath text;
    text.addText(0, 0, font, QStringLiteral("PIXAVANT"));
    const QRectF bounds = text.boundingRect();
    const QRectF area(38, 0, 224 - 38 - 6, 33);
    const qreal scale = std::min(1.0, area.width() / bounds.width());
    painter.translate(area.center().x() - bounds.center().x() * scale,
                      area.center().y() - bounds.center().y() * scale);
    painter.scale(scale, scale);
    painter.setBrush(QColor(0, 0, 64, 120));
    painter.drawPath(text.translated(1.5, 1.5));
    painter.setBrush(Qt::white);
    painter.drawPath(text);
    return logo;
}

}  // namespace pixavant
