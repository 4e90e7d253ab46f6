#include "ui/TaskDetailsDialog.h"

#include "actions/Journal.h"
#include "agent/InvokerLogSearch.h"
#include "agent/TaskRecord.h"
#include "base/OffThread.h"
#include "ui/HistoryDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace corvane {

namespace {

// A field is cut here: laying out a name of megabytes takes the window seconds, and a real field is a
// few dozen characters. The whole text is in `corvanectl list --json`.
constexpr qsizetype kDetailsTextLimit = 2000;

QString kindText(const TaskRow& row) {
    switch (row.kind) {
    case TaskRow::Kind::Package:
        return QStringLiteral("package");
    case TaskRow::Kind::Push:
        return QStringLiteral("no package descriptor found");
    case TaskRow::Kind::Launchpad:
        return QStringLiteral("descriptor of another kind, not a package");
    case TaskRow::Kind::Other:
        break;
    }
    return row.otherKind;
}

QString stateText(const QString& code) {
    const QString name = StateNames::name(code);
    if (code.isEmpty())
        return QStringLiteral("(none)");
    return name.isEmpty() ? code : QStringLiteral("%1 (%2)").arg(code, name);
}

} // namespace

TaskDetailsDialog::TaskDetailsDialog(const AgentPaths& paths, const TaskRow& row, QWidget* parent)
    : QDialog(parent) {
    using namespace TaskRecord;
    setObjectName(QStringLiteral("TaskDetails"));
    const QString taskId = row.key.mid(1);
    setWindowTitle(QStringLiteral("Task %1 - Corvane").arg(cappedCell(taskId)));
    const QStringList fields = split(row.record);
    const QString operationFile = field(fields, kOperationFile);

    auto* form = new QFormLayout;
    auto addField = [this, form](const QString& caption, const QString& value) {
        auto* text = new QLineEdit(cappedText(value, kDetailsTextLimit), this);
        text->setReadOnly(true);
        text->setCursorPosition(0);
        text->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
        auto* label = new QLabel(caption, this);
        label->setBuddy(text);
        form->addRow(label, text);
    };
    addField(QStringLiteral("Task &id:"), taskId);
    addField(QStringLiteral("&Operation file:"), operationFile);
    addField(QStringLiteral("&Descriptor:"), QDir::toNativeSeparators(paths.descriptor(operationFile)));
    addField(QStringLiteral("&Package name:"), QStringLiteral("%1 (%2)").arg(row.application, kindText(row)));
    addField(QStringLiteral("In&voker state:"), stateText(field(fields, kInvokerState)));
    addField(QStringLiteral("&Scheduler state:"), field(fields, kScheduledState));
    addField(QStringLiteral("Scheduler &time:"), field(fields, kScheduledTime));
    addField(QStringLiteral("&Reschedule policy:"), field(fields, kReschedule));
    addField(QStringLiteral("Reschedule d&ate:"), field(fields, kRescheduleDate));
    addField(QStringLiteral("Re&cord:"), row.record);

    auto* logCaption = new QLabel(
        QStringLiteral("Invoker &log lines naming %1 (all days):").arg(cappedCell(operationFile)), this);
    m_log = new QPlainTextEdit(this);
    m_log->setObjectName(QStringLiteral("DetailsLog"));
    m_log->setReadOnly(true);
    m_log->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_log->setAccessibleName(QStringLiteral("Invoker log lines of this task"));
    m_log->setPlaceholderText(QStringLiteral("Reading the invoker log..."));
    logCaption->setBuddy(m_log);

    auto* changesCaption = new QLabel(QStringLiteral("C&hanges Corvane made to this task:"), this);
    m_changes = new QPlainTextEdit(this);
    m_changes->setObjectName(QStringLiteral("DetailsChanges"));
    m_changes->setReadOnly(true);
    m_changes->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_changes->setPlaceholderText(QStringLiteral("Reading the journal of changes..."));
    m_changes->setMaximumHeight(m_changes->fontMetrics().lineSpacing() * 5);
    changesCaption->setBuddy(m_changes);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(logCaption);
    layout->addWidget(m_log, 1);
    layout->addWidget(changesCaption);
    layout->addWidget(m_changes);
    layout->addWidget(buttons);
    resize(720, 520);

    readChanges(paths.journal(), taskId);
    const QString logPath = paths.invokerLog();
    // A search of a long log stops once the dialog has closed, rather than hold a pool thread for nothing.
    runOffThread(
        this,
        [logPath, operationFile, closed = m_closed] {
            InvokerLogLines found;
            invokerLogLinesContaining(
                logPath, operationFile, kMaxLogLines, [closed] { return !closed->load(); }, found,
                found.error);
            return found;
        },
        [this, logPath](const InvokerLogLines& found) {
            if (!found.error.isEmpty()) {
                m_log->setPlaceholderText(QStringLiteral("Can't read the invoker log %1: %2")
                                              .arg(QDir::toNativeSeparators(logPath), found.error));
            } else if (found.lines.isEmpty()) {
                m_log->setPlaceholderText(QStringLiteral("No line of the invoker log names this task."));
            } else {
                QString text = found.lines.join(QLatin1Char('\n'));
                if (found.dropped > 0)
                    text.prepend(QStringLiteral("[%1 earlier lines left out]\n").arg(found.dropped));
                m_log->setPlainText(text);
            }
            m_logRead = true;
            emit logRead();
        });
}

void TaskDetailsDialog::readChanges(const QString& journalPath, const QString& taskId) {
    readHistoryOffThread(
        this, journalPath, taskId, [this](const QList<JournalEntry>& entries, const QString& error) {
            QStringList lines;
            for (const JournalEntry& entry : entries)
                lines << QStringLiteral("%1  %2  %3 by %4: %5 (%6)")
                             .arg(entry.id)
                             .arg(entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), entry.action,
                                  entry.user, cappedText(describeChanges(entry), kDetailsTextLimit),
                                  entry.status);
            m_changes->setPlainText(lines.join(QLatin1Char('\n')));
            m_changes->setPlaceholderText(
                error.isEmpty() ? QStringLiteral("Corvane has not changed this task.")
                                : QStringLiteral("Can't read the journal of changes: ") + error);
        });
}

QString TaskDetailsDialog::logText() const {
    return m_log->toPlainText();
}

} // namespace corvane
