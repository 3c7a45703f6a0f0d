#include "inspect/InfoPanel.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>

#include "common/WindowMetrics.h"

namespace pixavant {

namespace {

// Design geometry in the window's client area, in twips.
constexpr int kCaptionLeft = 4230;
constexpr int kCaptionWidth = 1185;
constexpr int kFieldLeft = 5640;
constexpr int kFieldWidth = 1845;
constexpr int kFirstRowTop = 3735;
constexpr int kRowPitch = 312;
constexpr int kRowHeight = 285;

const char* const kFieldNames[imaging::kImageInfoRows] = {
    "txtFormat",       "txtCompress",   "txtWidth",    "txtHeight",
    "txtBitsPerPixel", "txtResoultion", "txtFileSize", "txtImageSize"};

// The longest texts a field shows, so that the fields can be made wide enough for them.
const char* const kWidestTexts[] = {" OS/2 BMP version 1.x", " Proprietary lossless",
                                    " Microsoft FAX format", " 2147483647 bytes"};

}  // namespace

InfoPanel::InfoPanel(QWidget* area, int areaLeftTwips, int areaTopTwips) : QObject(area) {
    setObjectName(QStringLiteral("InfoPanel"));
    const QFont font = sansFont(8.25);
    const QFontMetrics metrics(font);
    const QPoint origin(twipsToPixels(areaLeftTwips), twipsToPixels(areaTopTwips));
    const std::array<QString, imaging::kImageInfoRows> captionTexts = imaging::imageInfoCaptions();

    // Captions may widen up to their field; the fields up to the window's right edge (the area
    // widens with them).
    const QRect firstCaption = twipRect(kCaptionLeft, kFirstRowTop, kCaptionWidth, kRowHeight);
    const QRect firstField = twipRect(kFieldLeft, kFirstRowTop, kFieldWidth, kRowHeight);
    int captionWidth = firstCaption.width();
    for (const QString& text : captionTexts)
        captionWidth = std::max(captionWidth, metrics.horizontalAdvance(text) + 2);
    captionWidth = std::min(captionWidth, firstField.left() - firstCaption.left() - 1);

    QLineEdit probe;
    probe.setFont(font);
    const QMargins margins = probe.textMargins();
    int fieldWidth = firstField.width();
    for (const char* text : kWidestTexts) {
        // Frame, the line edit's inner margin and the text's own margins.
        const int needed = metrics.horizontalAdvance(QLatin1String(text)) + 2 * 2 + 2 * 2 +
                           margins.left() + margins.right() + 2;
        fieldWidth = std::max(fieldWidth, needed);
    }
    if (QWidget* client = area->parentWidget())
        fieldWidth = std::min(fieldWidth, client->width() - firstField.left() - 4);

    for (int row = 0; row < imaging::kImageInfoRows; ++row) {
        const int top = kFirstRowTop + row * kRowPitch;
        QRect captionRect = twipRect(kCaptionLeft, top, kCaptionWidth, kRowHeight);
        captionRect.setWidth(captionWidth);
        QRect fieldRect = twipRect(kFieldLeft, top, kFieldWidth, kRowHeight);
        fieldRect.setWidth(fieldWidth);

        auto* caption = new QLabel(captionTexts[size_t(row)], area);
        caption->setFont(font);
        caption->setTextFormat(Qt::PlainText);
        caption->setForegroundRole(QPalette::Highlight);
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        caption->setGeometry(captionRect.translated(-origin));
        captions_[size_t(row)] = caption;

        auto* field = new QLineEdit(area);
        field->setObjectName(QLatin1String(kFieldNames[row]));
        field->setFont(font);
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::ClickFocus);  // selectable for copying, not in the tab order
        field->setGeometry(fieldRect.translated(-origin));
        field->setAccessibleName(captionTexts[size_t(row)].chopped(1));
        fields_[size_t(row)] = field;
    }
    const QRect lastField = fields_.back()->geometry();
    area->resize(std::max(area->width(), lastField.right() + 1),
                 std::max(area->height(), lastField.bottom() + 1));

    formatField_ = fields_[0];
    compressionField_ = fields_[1];
    widthField_ = fields_[2];
    heightField_ = fields_[3];
    bitsPerPixelField_ = fields_[4];
    resolutionField_ = fields_[5];
    fileSizeField_ = fields_[6];
    imageSizeField_ = fields_[7];
}

void InfoPanel::clear() {
    for (QLineEdit* field : fields_)
        field->setText(QString());
}

void InfoPanel::showImageInfo(const imaging::FileInfoRecord& info) {
    const imaging::ImageInfoTexts texts = imaging::imageInfoTexts(info);
    // The panel's own order of writing: sizes first, then compression, format and resolution.
    widthField_->setText(texts.width);
    heightField_->setText(texts.height);
    bitsPerPixelField_->setText(texts.bitsPerPixel);
    fileSizeField_->setText(texts.fileSize);
    imageSizeField_->setText(texts.imageSize);
    compressionField_->setText(texts.compress);
    formatField_->setText(texts.format);
    resolutionField_->setText(texts.resolution);
}

void InfoPanel::showFailure() {
    clear();
    formatField_->setText(QStringLiteral("Unknown format"));
}

}  // namespace pixavant
