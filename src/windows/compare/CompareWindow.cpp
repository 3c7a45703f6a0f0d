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
#include "imaging/FormatCodes.h"

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
        case CompressionType::Lzw:
            type = QLatin1String(kTypes[0]);
            break;
        case CompressionType::CcittG3:
        case CompressionType::CcittG4: {
            namespace format = imaging::format;
            const bool second =
                s.FileFormat == format::kTiffG3_2D || s.FileFormat == format::kPixavant1Bit;
            type = QStringLiteral("%1 level %2").arg(kTypes[int(s.CompressionChoice)]).arg(second);
            break;
        }
        case CompressionType::Jpeg:
            type = QStringLiteral("JPEG level %1").arg((s.QualityFactor - 2) / 10);
            break;
        case CompressionType::Pixavant:
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
    divide_ = new QPushButton(QStringLiteral("Divide"), this);
    divide_->setObjectName(QStringLiteral("Divide"));
    divide_->setCheckable(true);
    divide_->setToolTip(QStringLiteral(
        "Side by side or one over the other (D); Shift+Left/Right moves the divider"));
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("Close"));

    panes_ = new QGridLayout;
    panes_->addWidget(originalCaption_, 0, 0);
    panes_->addWidget(resultCaption_, 0, 1);
    panes_->addWidget(originalPane_, 1, 0);
    panes_->addWidget(resultPane_, 1, 1);
    panes_->setRowStretch(1, 1);
    panes_->setColumnStretch(0, 1);
    panes_->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(status_, 1);
    buttons->addWidget(divide_);
    buttons->addWidget(zoom_);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(panes_, 1);
    layout->addWidget(figures_);
    layout->addLayout(buttons);

    connect(zoom_, &QPushButton::clicked, this, [this] { setFitted(!state_.fitted); });
    connect(divide_, &QPushButton::clicked, this, [this](bool on) { setDivided(on); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    connect(worker_, &CompareWorker::shown, this,
            [this](const CompareResult& r) { showResult(r); });
    connect(worker_, &CompareWorker::busyChanged, this, [this](bool busy) {
        status_->setText(busy ? QStringLiteral("Working...") : QString());
    });
    // A focused button would take the arrow keys to move the focus: here they pan the picture
    // and move the divider.
    for (QPushButton* button : {divide_, zoom_, close})
        button->installEventFilter(this);
    nameControls(this);
}

bool CompareWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right || key->key() == Qt::Key_Up ||
            key->key() == Qt::Key_Down) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
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
    request.fitted = state_.fitted;
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

// The view the quick look is made for: the pane's size in image pixels at 100 %, in the
// screen's pixels when fitted (the reduced copy is then drawn at about its own size).
QSize CompareWindow::viewSize() const {
    const QSize pane = resultPane_->size().expandedTo(QSize(320, 240));
    return state_.fitted ? pane * resultPane_->devicePixelRatioF() : pane;
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
    resultPane_->setUnderlay(originalPane_->image());
    outputSize_ = size;
    resultCaption_->setText(
        QStringLiteral("Result: %1 - %2 x %3").arg(choices_).arg(r.width).arg(r.height));
    QLocale english(QLocale::English);
    // A quick look is a preview: its own bytes and quality are not the output's, so none are
    // shown until the whole output is there.
    if (r.look == CompareLook::Reduced) {
        resultPane_->setImage(r.result, size);
        resultPane_->setNote(QStringLiteral("Preview: reduced to %1 x %2")
                                 .arg(r.result.width())
                                 .arg(r.result.height()));
        figures_->setText(QStringLiteral("Source: %1. Result: a preview of the whole picture, "
                                         "reduced; the exact bytes follow.")
                              .arg(bytesText(r.sourceBytes)));
        return;
    }
    if (r.look == CompareLook::Part) {
        // The rest keeps what was shown until the whole output is there.
        if (resultPane_->image().size() != size)
            resultPane_->setImage(originalPane_->image(), size);
        resultPane_->setPart(r.result, QPoint(r.partX, r.partY));
        resultPane_->setNote(QStringLiteral("Preview: the part in view"));
        figures_->setText(
            QStringLiteral("Source: %1. Result: a preview of the part in view; the exact bytes "
                           "follow.")
                .arg(bytesText(r.sourceBytes)));
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

void CompareWindow::setDivided(bool divided) {
    state_.divided = divided;
    divide_->setChecked(divided);
    // Divided, the result pane takes both columns and the original is drawn in it.
    panes_->removeWidget(resultPane_);
    panes_->addWidget(resultPane_, 1, divided ? 0 : 1, 1, divided ? 2 : 1);
    originalPane_->setVisible(!divided);
    originalCaption_->setText(divided ? QStringLiteral("Original: left of the divider")
                                      : QStringLiteral("Original"));
    resultPane_->update();
}

void CompareWindow::moveDivider(double step) {
    state_.divider = std::clamp(state_.divider + step, 0.0, 1.0);
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
    constexpr double kDividerStep = 0.05;
    if (state_.divided && event->modifiers() & Qt::ShiftModifier &&
        (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right)) {
        moveDivider(event->key() == Qt::Key_Left ? -kDividerStep : kDividerStep);
        return;
    }
    switch (event->key()) {
        case Qt::Key_F:
            setFitted(!state_.fitted);
            return;
        case Qt::Key_D:
            setDivided(!state_.divided);
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
