#pragma once

#include <QRect>
#include <QtGlobal>

namespace corvane {

// The window's geometry is designed in twips: 1440 an inch, 15 a pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

inline int twips(int value) {
    return qRound(double(value) / kTwipsPerPixel);
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

} // namespace corvane
