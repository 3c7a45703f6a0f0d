#include "about/AboutBox.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"

namespace pixavant {

QStringList AboutBox::aboutLines() {
    return {
        QString(),
        QStringLiteral("PIXAVANT Version 1.0"),
        QString(),
        QStringLiteral("Professional Image Compression Program"),
        QString(),
        QStringLiteral("Pixavant Software"),
        QString(),
        QStringLiteral("100 Example Road"),
        QStringLiteral("Springfield, EX 00000"),
        QStringLiteral("Tel: (555) 555-0100"),
        QStringLiteral("Fax: (555) 555-0101"),
        QStringLiteral("E-Mail: info@example.com"),
        QStringLiteral("Web: www.example.com"),
    };
}

QString AboutBox::aboutText() {
    return aboutLines().join(QLatin1Char('\n'));
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About"));
    const QFont font = sansFont(8.25);
    setFont(font);

    aboutText_ = new QLabel(this);
    aboutText_->setObjectName(QStringLiteral("lAbout"));
    aboutText_->setTextFormat(Qt::PlainText);
    aboutText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = aboutText_->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    aboutText_->setPalette(palette);
    aboutText_->setText(aboutText());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // The text takes the height its lines need; the window grows with it when the font is taller
    // than the design's.
    QRect textRect = twipRect(300, 30, 5295, 2355);
    const int textHeight = QFontMetrics(font).lineSpacing() * aboutLines().size() + 4;
    const int extra = std::max(0, textHeight - textRect.height());
    textRect.setHeight(textRect.height() + extra);
    aboutText_->setGeometry(textRect);
    ok->setGeometry(twipRect(4110, 1770, 1125, 465).translated(0, extra));
    setFixedSize(twipsToPixels(5700), twipsToPixels(2685) + extra);
    keepWindowFixed(this);
    nameControls(this);
}

}  // namespace pixavant
