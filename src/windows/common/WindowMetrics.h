#pragma once

#include <QFont>
#include <QRect>
#include <cmath>

namespace pixavant {

// Window layouts are given in twips: 15 twips make one pixel. Halves round to even.
inline int twipsToPixels(int twips) {
    return static_cast<int>(std::nearbyint(twips / 15.0));
}

inline QRect twipRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// The platform's sans-serif font at the given size.
inline QFont sansFont(double pointSize, bool bold = false) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace pixavant
