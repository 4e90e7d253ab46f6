#include "MessagePresenter.h"

#include "ActionPreviewDialog.h"

#include <QMessageBox>

namespace corvane {

void MessageBoxPresenter::show(const QString& text, const QString& title, Icon icon) {
    QMessageBox box(icon == Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon, title, text,
                    QMessageBox::Ok, m_parent);
    box.exec();
}

MessagePresenter::PreviewAnswer MessageBoxPresenter::confirmAction(const ActionReport& preview) {
    ActionPreviewDialog dialog(preview, m_parent);
    const int result = dialog.exec();
    const bool accepted = result == QDialog::Accepted;
    return {accepted, accepted && dialog.dontAskAgain(), result == ActionPreviewDialog::kRetry};
}

} // namespace corvane
