#include "compare/CompareWindow.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "common/WindowLooks.h"
#include "compare/CompareSource.h"

namespace pixavant {

namespace {

QString bytesText(qint64 bytes) {
    return QLocale(QLocale::English).toString(bytes) + QStringLiteral(" bytes");
}

// The choices in the dialog's words: "JPEG level 25, 24-Bit Color, 72 DPI".
QString choicesText(const CompressionSettings& s) {
    static const char* const kTypes[] = {"LZW", "CCITT Group3", "CCITT Group4", "JPEG", "PIXAVANT"};
    static const char* const kDepths[] = {"B/W", "Gray Scale", "8-Bit Color", "16-Bit Color",
                                          "24-Bit Color"};
    QString type = QStringLiteral("format %1").arg(s.FileFormat);
    switch (s.CompressionChoice) {
        case 0:
            type = QLatin1String(kTypes[0]);
            break;
        case 1:
        case 2: {
            const bool second = s.FileFormat == 28 || s.FileFormat == 26;
            type = QStringLiteral("%1 level %2").arg(kTypes[s.CompressionChoice]).arg(second);
            break;
        }
        case 3:
            type = QStringLiteral("JPEG level %1").arg((s.QualityFactor - 2) / 10);
            break;
        case 4:
            type = QStringLiteral("PIXAVANT level %1").arg(-1 - s.QualityFactor);
            break;
        default:
            break;
    }
    const int depth = s.DepthChoice >= 0 && s.DepthChoice <= 4 ? s.DepthChoice : 4;
    return QStringLiteral("%1, %2, %3 DPI").arg(type, QLatin1String(kDepths[depth])).arg(s.Dpi);
}

}  // namespace

CompareWindow::CompareWindow(const CompareSource& source, QWidget* parent)
    : QWidget(parent, Qt::Window), source_(source) {
    setObjectName(QStringLiteral("Compare"));
    setWindowTitle(QStringLiteral("Compare"));
    resize(960, 600);

    worker_ = new CompareWorker(this);
    originalPane_ = new ComparePane(state_, this);
    originalPane_->setObjectName(QStringLiteral("OriginalPane"));
    resultPane_ = new ComparePane(state_, this);
    resultPane_->setObjectName(QStringLiteral("ResultPane"));
    for (ComparePane* pane : {originalPane_, resultPane_})
        pane->onDragged([this](QPointF moved) { pan(moved); });
    originalCaption_ = new QLabel(QStringLiteral("Original"), this);
    resultCaption_ = new QLabel(QStringLiteral("Result"), this);
    figures_ = new QLabel(this);
    figures_->setObjectName(QStringLiteral("Figures"));
    figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures_->setWordWrap(true);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    zoom_ = new QPushButton(QStringLiteral("100 %"), this);
    zoom_->setObjectName(QStringLiteral("Zoom"));
    zoom_->setToolTip(QStringLiteral("Fitted or 100 % (F)"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Close"));

    auto* panes = new QGridLayout;
    panes->addWidget(originalCaption_, 0, 0);
    panes->addWidget(resultCaption_, 0, 1);
    panes->addWidget(originalPane_, 1, 0);
    panes->addWidget(resultPane_, 1, 1);
    panes->setRowStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(zoom_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(panes, 1);
    layout->addWidget(figures_);
    layout->addLayout(buttons);

    connect(zoom_, &QPushButton::clicked, this, [this] { setFitted(!state_.fitted); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(worker_, &CompareWorker::shown, this,
            [this](const CompareResult& r) { showResult(r); });
    connect(worker_, &CompareWorker::busyChanged, this, [this](bool busy) {
        status_->setText(busy ? QStringLiteral("Working...") : QString());
    });
    nameControls(this);
}

void CompareWindow::setChoices(const CompressionSettings& choices) {
    CompareRequest request;
    request.path = source_.clickedFile();
    if (request.path.isEmpty()) {
        showFailure(QStringLiteral("No file to compare."),
                    QStringLiteral("Click a file in the main window's lists first."));
        return;
    }
    setWindowTitle(QStringLiteral("Compare - %1").arg(QFileInfo(request.path).fileName()));
    request.settings = choices;
    choices_ = choicesText(choices);
    request.centreX = state_.centre.x();
    request.centreY = state_.centre.y();
    const QSize view = viewSize();
    request.viewWidth = view.width();
    request.viewHeight = view.height();
    request.wantOriginal = shownPath_ != request.path;
    worker_->request(request);
}

void CompareWindow::setRefusal(const QString& text) {
    showFailure(text, QString());
}

// The part of the output in view at 100%: the pane's size (its middle at fitted view).
QSize CompareWindow::viewSize() const {
    return resultPane_->size().expandedTo(QSize(320, 240));
}

void CompareWindow::showResult(const CompareResult& r) {
    if (r.code != 0) {
        showFailure(r.message, r.details);
        return;
    }
    const QSize size(r.width, r.height);
    if (!r.original.isNull())
        shownPath_ = source_.clickedFile();
    if (!r.original.isNull() || size != outputSize_)
        originalPane_->setImage(r.original.isNull() ? originalPane_->image() : r.original, size);
    outputSize_ = size;
    resultCaption_->setText(
        QStringLiteral("Result: %1 - %2 x %3").arg(choices_).arg(r.width).arg(r.height));
    QLocale english(QLocale::English);
    if (r.part) {
        // The rest keeps what was shown until the whole output is there.
        if (resultPane_->image().size() != size)
            resultPane_->setImage(originalPane_->image(), size);
        resultPane_->setPart(r.result, QPoint(r.partX, r.partY));
        const double share =
            double(r.result.width()) * r.result.height() / (double(r.width) * r.height);
        figures_->setText(
            QStringLiteral("Source: %1. Result: about %2 (from the part in view).")
                .arg(bytesText(r.sourceBytes), bytesText(qint64(std::llround(r.bytes / share)))));
        return;
    }
    resultPane_->setImage(r.result, size);
    QString text =
        QStringLiteral("Source: %1. Result: %2.").arg(bytesText(r.sourceBytes), bytesText(r.bytes));
    if (r.bytes > 0 && r.sourceBytes > 0)
        text += QStringLiteral(" Ratio %1 : 1 (%2 % of the source).")
                    .arg(english.toString(double(r.sourceBytes) / r.bytes, 'f', 2),
                         english.toString(100.0 * r.bytes / r.sourceBytes, 'f', 1));
    if (r.psnr)
        text += std::isinf(*r.psnr)
                    ? QStringLiteral(" PSNR: identical.")
                    : QStringLiteral(" PSNR %1 dB.").arg(english.toString(*r.psnr, 'f', 1));
    else
        text += QStringLiteral(" Lossless.");
    figures_->setText(text);
}

void CompareWindow::showFailure(const QString& message, const QString& details) {
    resultPane_->clear();
    resultCaption_->setText(QStringLiteral("Result"));
    figures_->setText(details.isEmpty() ? message : message + QLatin1Char('\n') + details);
}

QString CompareWindow::figuresText() const {
    return figures_->text();
}

QString CompareWindow::statusText() const {
    return status_->text();
}

void CompareWindow::setFitted(bool fitted) {
    state_.fitted = fitted;
    zoom_->setText(fitted ? QStringLiteral("100 %") : QStringLiteral("Fit"));
    originalPane_->update();
    resultPane_->update();
}

void CompareWindow::pan(QPointF moved) {
    if (state_.fitted || outputSize_.isEmpty())
        return;
    state_.centre -= QPointF(moved.x() / outputSize_.width(), moved.y() / outputSize_.height());
    state_.centre =
        QPointF(std::clamp(state_.centre.x(), 0.0, 1.0), std::clamp(state_.centre.y(), 0.0, 1.0));
    originalPane_->update();
    resultPane_->update();
}

void CompareWindow::keyPressEvent(QKeyEvent* event) {
    constexpr double kStep = 64;
    switch (event->key()) {
        case Qt::Key_F:
            setFitted(!state_.fitted);
            return;
        case Qt::Key_Left:
            pan({kStep, 0});
            return;
        case Qt::Key_Right:
            pan({-kStep, 0});
            return;
        case Qt::Key_Up:
            pan({0, kStep});
            return;
        case Qt::Key_Down:
            pan({0, -kStep});
            return;
        case Qt::Key_Escape:
            close();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace pixavant
