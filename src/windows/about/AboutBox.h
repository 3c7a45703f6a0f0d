#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;

namespace pixavant {

// The About box: the program's name, version and description and the maker's contact lines.
class AboutBox : public QDialog {
    Q_OBJECT

  public:
    explicit AboutBox(QWidget* parent = nullptr);

    // The lines of the About text, the first one empty.
    static QStringList aboutLines();
    // The text shown: the lines joined by line breaks.
    static QString aboutText();

  private:
    QLabel* aboutText_ = nullptr;
};

}  // namespace pixavant
