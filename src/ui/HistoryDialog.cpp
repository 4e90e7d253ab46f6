#include "ui/HistoryDialog.h"

#include "actions/Journal.h"
#include "base/OffThread.h"
#include "tasklist/TaskListExport.h"
#include "tasklist/TaskRow.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace corvane {

namespace {
constexpr int kIdColumn = 0;
} // namespace

HistoryDialog::HistoryDialog(const QString& journalPath, QWidget* parent)
    : QDialog(parent)
    , m_journalPath(journalPath) {
    setObjectName(QStringLiteral("History"));
    setWindowTitle(QStringLiteral("History - Corvane"));

    m_entries = new QTreeWidget(this);
    m_entries->setObjectName(QStringLiteral("HistoryEntries"));
    m_entries->setRootIsDecorated(false);
    m_entries->setUniformRowHeights(true);
    m_entries->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_entries->setHeaderLabels(header());
    m_entries->setAccessibleName(QStringLiteral("Changes made to the agent database"));

    m_onlyTask = new QCheckBox(QStringLiteral("&Only this task"), this);
    m_onlyTask->setObjectName(QStringLiteral("HistoryOnlyTask"));
    m_onlyTask->setEnabled(false);
    connect(m_onlyTask, &QCheckBox::toggled, this, &HistoryDialog::reload);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("HistoryStatus"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* undo = buttons->addButton(QStringLiteral("&Undo"), QDialogButtonBox::ActionRole);
    undo->setObjectName(QStringLiteral("HistoryUndo"));
    undo->setToolTip(QStringLiteral("Put back what the selected entries changed, after a preview"));
    QPushButton* copy = buttons->addButton(QStringLiteral("&Copy"), QDialogButtonBox::ActionRole);
    QPushButton* exportButton =
        buttons->addButton(QStringLiteral("&Export..."), QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(undo, &QPushButton::clicked, this, [this] {
        QList<qint64> ids;
        const QList<QTreeWidgetItem*> selected = m_entries->selectedItems();
        for (const QTreeWidgetItem* item : selected)
            ids << item->text(kIdColumn).toLongLong();
        std::sort(ids.begin(), ids.end(), std::greater<>()); // the newest change is taken back first
        if (!ids.isEmpty())
            emit undoRequested(ids);
    });
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(shownText()); });
    connect(exportButton, &QPushButton::clicked, this, &HistoryDialog::exportShown);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_onlyTask);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_entries, 1);
    layout->addLayout(bottom);
    resize(900, 420);
}

QStringList HistoryDialog::header() const {
    return {QStringLiteral("Entry"),   QStringLiteral("Time"),  QStringLiteral("User"),
            QStringLiteral("Action"),  QStringLiteral("Task"),  QStringLiteral("Application"),
            QStringLiteral("Changed"), QStringLiteral("Status")};
}

void HistoryDialog::setTask(const QString& taskId, bool only) {
    m_taskId = taskId;
    m_onlyTask->setEnabled(!taskId.isEmpty());
    m_onlyTask->setText(taskId.isEmpty() ? QStringLiteral("&Only this task")
                                         : QStringLiteral("&Only task %1").arg(cappedCell(taskId)));
    const bool wasOnly = m_onlyTask->isChecked();
    m_onlyTask->setChecked(only && !taskId.isEmpty());
    if (wasOnly == m_onlyTask->isChecked())
        reload();
}

void HistoryDialog::reload() {
    m_read = false;
    std::optional<QString> task;
    if (m_onlyTask->isChecked())
        task = m_taskId;
    const QString path = m_journalPath;
    m_status->setText(QStringLiteral("Reading..."));
    readHistoryOffThread(this, path, task, [this](const QList<JournalEntry>& entries, const QString& error) {
        showEntries(entries, error);
    });
}

void readHistoryOffThread(QObject* receiver, const QString& journalPath, const std::optional<QString>& taskId,
                          std::function<void(const QList<JournalEntry>&, const QString&)> done) {
    runOffThread(
        receiver,
        [journalPath, taskId] {
            std::pair<QList<JournalEntry>, QString> result;
            readHistory(journalPath, taskId, result.first, result.second);
            return result;
        },
        [done = std::move(done)](const std::pair<QList<JournalEntry>, QString>& result) {
            done(result.first, result.second);
        });
}

void HistoryDialog::showEntries(const QList<JournalEntry>& entries, const QString& error) {
    m_entries->clear();
    for (const JournalEntry& entry : entries) {
        const QString changed = describeChanges(entry);
        auto* item = new QTreeWidgetItem(
            m_entries, {QString::number(entry.id), entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                        entry.user, entry.action, cappedCell(entry.taskId), cappedCell(entry.packageName),
                        cappedCell(changed), entry.status});
        item->setToolTip(6, changed);
        item->setData(kIdColumn, Qt::UserRole, entry.id);
    }
    for (int column = 0; column < m_entries->columnCount(); ++column)
        m_entries->resizeColumnToContents(column);
    // What changed may be long: the status beside it stays in view, the whole text is in the tooltip.
    m_entries->setColumnWidth(
        6, std::min(m_entries->columnWidth(6), m_entries->fontMetrics().averageCharWidth() * 48));
    m_status->setText(error.isEmpty() ? QStringLiteral("%1 entries").arg(entries.size())
                                      : QStringLiteral("Can't read the journal %1: %2")
                                            .arg(QDir::toNativeSeparators(m_journalPath), error));
    m_read = true;
    emit read();
}

QList<QStringList> HistoryDialog::shownRows() const {
    QList<QStringList> rows;
    for (int i = 0; i < m_entries->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_entries->topLevelItem(i);
        QStringList cells;
        for (int column = 0; column < m_entries->columnCount(); ++column)
            cells << (item->toolTip(column).isEmpty() ? item->text(column) : item->toolTip(column));
        rows << cells;
    }
    return rows;
}

QString HistoryDialog::shownText() const {
    return tsvText(header(), shownRows());
}

void HistoryDialog::exportShown() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export the history"),
                                                      QStringLiteral("history.csv"),
                                                      QStringLiteral("CSV files (*.csv);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !saveCsv(path, csvText(header(), shownRows()), error))
        m_status->setText(error);
}

} // namespace corvane
