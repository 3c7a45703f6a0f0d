#pragma once

#include <QObject>
#include <array>

#include "imaging/FileInfo.h"
#include "imaging/FormatNames.h"

class QLabel;
class QLineEdit;
class QWidget;

namespace pixavant {

// The information panel of the main window: eight captions and eight read-only value fields
// (txtFormat, txtCompress, txtWidth, txtHeight, txtBitsPerPixel, txtResoultion, txtFileSize,
// txtImageSize), built into the area the main window reserves for it.
class InfoPanel : public QObject {
    Q_OBJECT

  public:
    // area: the main window's panel area, placed at `areaLeft`, `areaTop` twips in the client.
    InfoPanel(QWidget* area, int areaLeftTwips, int areaTopTwips);

    // Every field empty.
    void clear();
    // The fields filled from the record, in the panel's field order.
    void showImageInfo(const imaging::FileInfoRecord& info);
    // A file that could not be read or shown: "Unknown format" and seven empty fields.
    void showFailure();

    QLineEdit* field(int row) const { return fields_[size_t(row)]; }

  private:
    std::array<QLabel*, imaging::kImageInfoRows> captions_{};
    std::array<QLineEdit*, imaging::kImageInfoRows> fields_{};
    QLineEdit* formatField_ = nullptr;
    QLineEdit* compressionField_ = nullptr;
    QLineEdit* widthField_ = nullptr;
    QLineEdit* heightField_ = nullptr;
    QLineEdit* bitsPerPixelField_ = nullptr;
    QLineEdit* resolutionField_ = nullptr;
    QLineEdit* fileSizeField_ = nullptr;
    QLineEdit* imageSizeField_ = nullptr;
};

}  // namespace pixavant
