#include "ui/AppFont.h"

#include <QApplication>

namespace corvane {

QFont applicationFont() {
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("DejaVu Sans Condensed"), font.family()});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    return font;
}

void useApplicationFont() {
    static bool chosen = false;
    if (chosen)
        return;
    chosen = true;
    // Without a class name this also replaces the fonts the platform gives message boxes and the like.
    QApplication::setFont(applicationFont());
}

} // namespace corvane
