#include "ActionPreviewDialog.h"

#include "TaskRow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace corvane {

namespace {
const QColor kRefusedText(160, 0, 0);
} // namespace

ActionPreviewDialog::ActionPreviewDialog(const ActionReport& preview, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ActionPreviewDialog"));
    setWindowTitle(QStringLiteral("Corvane"));

    auto* intro =
        new QLabel(QStringLiteral("%1 is about to change the agent database. Nothing has been changed yet.")
                       .arg(actionName(preview.action)),
                   this);
    intro->setWordWrap(true);

    auto* tasks = new QTreeWidget(this);
    tasks->setObjectName(QStringLiteral("PreviewTasks"));
    tasks->setRootIsDecorated(false);
    tasks->setUniformRowHeights(true);
    tasks->setHeaderLabels(
        {QStringLiteral("Task"), QStringLiteral("Application"), QStringLiteral("What happens")});
    for (const TaskOutcome& task : preview.tasks) {
        const bool change = task.kind == TaskOutcome::Kind::Change;
        const QString what = change
                                 ? task.changes.join(QStringLiteral(", "))
                                 : (task.kind == TaskOutcome::Kind::Refused ? QStringLiteral("Refused: ")
                                                                            : QStringLiteral("Unchanged: ")) +
                                       task.reason;
        auto* item =
            new QTreeWidgetItem(tasks, {cappedCell(task.taskId), cappedCell(task.packageName), what});
        item->setToolTip(2, what);
        if (!change) {
            for (int column = 0; column < 3; ++column)
                item->setForeground(column, kRefusedText);
        }
    }
    tasks->header()->setStretchLastSection(true);
    tasks->resizeColumnToContents(0);
    tasks->resizeColumnToContents(1);

    auto* summary = new QLabel(preview.summary(), this);
    summary->setObjectName(QStringLiteral("PreviewSummary"));

    m_dontAskAgain = new QCheckBox(QStringLiteral("&Don't ask again"), this);
    m_dontAskAgain->setObjectName(QStringLiteral("DontAskAgain"));
    m_dontAskAgain->setToolTip(
        QStringLiteral("Turn the preview back on from the context menu of Stop Install or Reinstall"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(tasks, 1);
    layout->addWidget(summary);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_dontAskAgain);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
    resize(640, 260);
}

bool ActionPreviewDialog::dontAskAgain() const {
    return m_dontAskAgain->isChecked();
}

} // namespace corvane
