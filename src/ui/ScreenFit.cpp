#include "ui/ScreenFit.h"

#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace corvane {

QRect fitInto(const QRect& frame, const QRect& available) {
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    fitted.moveLeft(std::clamp(fitted.left(), available.left(), available.right() - fitted.width() + 1));
    fitted.moveTop(std::clamp(fitted.top(), available.top(), available.bottom() - fitted.height() + 1));
    return fitted;
}

void fitOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (!screen)
        return;
    const QRect inner = window.geometry();
    const QRect outer = window.frameGeometry();
    QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                   outer.bottom() - inner.bottom());
    // Before the window is first shown it has no frame yet: count a title bar and thin borders.
    if (frame.isNull()) {
        constexpr int kBorder = 8;
        frame = QMargins(kBorder, window.style()->pixelMetric(QStyle::PM_TitleBarHeight) + kBorder, kBorder,
                         kBorder);
    }
    const QRect fitted = fitInto(window.geometry() + frame, screen->availableGeometry());
    const QRect client = fitted - frame;
    const QSize size = client.size().expandedTo(window.minimumSize());
    if (size != window.size())
        window.resize(size);
    if (client.topLeft() != window.geometry().topLeft())
        window.move(fitted.topLeft()); // move() places the frame
}

} // namespace corvane
