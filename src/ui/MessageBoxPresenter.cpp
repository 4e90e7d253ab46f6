#include "ui/MessageBoxPresenter.h"

#include "ui/ActionPreviewDialog.h"

#include <QMessageBox>
#include <QPushButton>

namespace corvane {

void MessageBoxPresenter::show(const QString& text, const QString& title, Icon icon) {
    QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, m_parent);
    box.exec();
}

bool MessageBoxPresenter::offer(const QString& text, const QString& title, const QString& action) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, m_parent);
    QPushButton* chosen = box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(chosen);
    box.exec();
    return box.clickedButton() == chosen;
}

MessagePresenter::PreviewAnswer MessageBoxPresenter::confirmAction(const ActionReport& preview) {
    ActionPreviewDialog dialog(preview, m_parent);
    const int result = dialog.exec();
    const bool accepted = result == QDialog::Accepted;
    return {accepted, accepted && dialog.dontAskAgain(), result == ActionPreviewDialog::kRetry};
}

} // namespace corvane
