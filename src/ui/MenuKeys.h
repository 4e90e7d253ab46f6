#pragma once

#include <QObject>

class QWidget;

namespace corvane {

// Opens a widget's context menu from the keyboard, with Shift+F10 or the Menu key, as a right click would:
// the buttons' menus otherwise open only with the mouse.
class MenuKeys : public QObject {
    Q_OBJECT

public:
    // Watches `widget`, and is deleted with it.
    static void install(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};

} // namespace corvane
