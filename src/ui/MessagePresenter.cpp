#include "MessagePresenter.h"

#include <QMessageBox>

namespace corvane {

void MessageBoxPresenter::show(const QString& text, const QString& title, Icon icon) {
    QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, m_parent);
    box.exec();
}

} // namespace corvane
