#include "ui/MenuKeys.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QWidget>

namespace corvane {

void MenuKeys::install(QWidget* widget) {
    widget->installEventFilter(new MenuKeys(widget));
}

bool MenuKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool menuKey = key->key() == Qt::Key_Menu && key->modifiers() == Qt::NoModifier;
    const bool shiftF10 = key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier;
    if (!menuKey && !shiftF10)
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // Under the widget, where a menu opened from the keyboard is expected.
    const QPoint at(widget->width() / 2, widget->height());
    QContextMenuEvent open(QContextMenuEvent::Keyboard, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &open);
    return true;
}

} // namespace corvane
