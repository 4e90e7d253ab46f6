#include "ui/ActionPreviewDialog.h"

#include "tasklist/TaskRow.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace corvane {

namespace {
const QColor kRefusedText(160, 0, 0);
const QColor kWarningText(170, 95, 0); // amber: the change goes ahead, but deserves a second look
} // namespace

ActionPreviewDialog::ActionPreviewDialog(const ActionReport& preview, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("ActionPreviewDialog"));
    setWindowTitle(preview.workstation.isEmpty() ? QStringLiteral("Corvane")
                                                 : QStringLiteral("Corvane - ") + preview.workstation);

    const QString database =
        preview.workstation.isEmpty()
            ? QStringLiteral("the agent database")
            : QStringLiteral("the agent database of workstation %1").arg(preview.workstation);
    auto* intro = new QLabel(QStringLiteral("%1 is about to change %2. Nothing has been changed yet.")
                                 .arg(actionName(preview.action), database),
                             this);
    intro->setObjectName(QStringLiteral("PreviewIntro"));
    intro->setWordWrap(true);

    auto* tasks = new QTreeWidget(this);
    tasks->setObjectName(QStringLiteral("PreviewTasks"));
    tasks->setRootIsDecorated(false);
    tasks->setUniformRowHeights(true);
    tasks->setHeaderLabels(
        {QStringLiteral("Task"), QStringLiteral("Application"), QStringLiteral("What happens")});
    for (const TaskOutcome& task : preview.tasks) {
        using Kind = TaskOutcome::Kind;
        QString what = task.what();
        if (task.kind != Kind::Change && !what.isEmpty())
            what[0] = what.at(0).toUpper();
        if (!task.warning.isEmpty())
            what = QStringLiteral("%1. Warning: %2").arg(what, task.warning);
        auto* item =
            new QTreeWidgetItem(tasks, {cappedCell(task.taskId), cappedCell(task.packageName), what});
        item->setToolTip(2, what);
        const bool refused = task.kind == Kind::Refused || task.kind == Kind::NotChanged;
        if (refused || !task.warning.isEmpty()) {
            for (int column = 0; column < 3; ++column)
                item->setForeground(column, refused ? kRefusedText : kWarningText);
        }
    }
    tasks->header()->setStretchLastSection(true);
    for (int column = 0; column < 3; ++column)
        tasks->resizeColumnToContents(column);

    auto* summary = new QLabel(preview.summary(), this);
    summary->setObjectName(QStringLiteral("PreviewSummary"));

    m_dontAskAgain = new QCheckBox(QStringLiteral("&Don't ask again"), this);
    m_dontAskAgain->setObjectName(QStringLiteral("DontAskAgain"));
    const QString backOn =
        QStringLiteral("Turn the preview back on from the menu of Stop Install or Reinstall "
                       "(right click, Shift+F10 or the Menu key)");
    m_dontAskAgain->setToolTip(backOn);
    // Said where it is set, not only in a tooltip: the technician must find the way back.
    auto* backOnNote = new QLabel(backOn, this);
    backOnNote->setObjectName(QStringLiteral("PreviewBackOn"));
    backOnNote->setWordWrap(true);
    backOnNote->hide();
    connect(m_dontAskAgain, &QCheckBox::toggled, backOnNote, &QWidget::setVisible);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setDefault(true);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(preview.count(TaskOutcome::Kind::Change) > 0);
    if (preview.anyUnread()) {
        QPushButton* retry = buttons->addButton(QStringLiteral("&Retry"), QDialogButtonBox::ActionRole);
        retry->setObjectName(QStringLiteral("PreviewRetry"));
        retry->setToolTip(QStringLiteral("Read the agent database again"));
        connect(retry, &QPushButton::clicked, this, [this] { done(kRetry); });
    }
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
    layout->addWidget(backOnNote);
    // Wide enough for every refusal's words and tall enough for every task, within most of the screen.
    const QRect screen = (parent ? parent->screen() : QGuiApplication::primaryScreen())->availableGeometry();
    const int frame =
        2 * tasks->frameWidth() + layout->contentsMargins().left() + layout->contentsMargins().right();
    const int rows = tasks->topLevelItemCount() + 1;
    const int wanted = tasks->header()->length() + tasks->verticalScrollBar()->sizeHint().width() + frame;
    const int extra = sizeHint().height() - tasks->sizeHint().height();
    resize(std::clamp(wanted, 640, std::max(640, screen.width() * 9 / 10)),
           std::clamp(extra + rows * tasks->sizeHintForRow(0) + 2 * tasks->frameWidth() + 8, 260,
                      std::max(260, screen.height() * 7 / 10)));
}

bool ActionPreviewDialog::dontAskAgain() const {
    return m_dontAskAgain->isChecked();
}

} // namespace corvane
