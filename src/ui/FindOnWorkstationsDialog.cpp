#include "ui/FindOnWorkstationsDialog.h"

#include "tasklist/TaskList.h"
#include "tasklist/TaskListExport.h"
#include "ui/ExportTarget.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <numeric>

namespace corvane {

namespace {
constexpr int kWorkstationRole = Qt::UserRole;
constexpr int kTaskIdRole = Qt::UserRole + 1;
constexpr int kExportRole = Qt::UserRole + 2;
} // namespace

FindOnWorkstationsDialog::FindOnWorkstationsDialog(WorkstationMapping map, QWidget* parent)
    : QDialog(parent)
    , m_map(std::move(map)) {
    setWindowTitle(QStringLiteral("Find on workstations - Corvane"));

    m_names = new QPlainTextEdit(this);
    m_names->setPlaceholderText(QStringLiteral("One workstation name a line"));
    m_names->setTabChangesFocus(true);
    auto* fromFile = new QPushButton(QStringLiteral("From &file..."), this);
    connect(fromFile, &QPushButton::clicked, this, &FindOnWorkstationsDialog::loadNames);
    auto* namesLabel = new QLabel(QStringLiteral("&Workstations:"), this);
    namesLabel->setBuddy(m_names);
    auto* namesBox = new QVBoxLayout;
    namesBox->addWidget(namesLabel);
    namesBox->addWidget(m_names, 1);
    namesBox->addWidget(fromFile, 0, Qt::AlignLeft);

    m_text = new QLineEdit(this);
    m_text->setPlaceholderText(QStringLiteral("Text in a task's id or columns"));
    m_text->setClearButtonEnabled(true);
    m_errorReschedule = new QCheckBox(QStringLiteral("&Error reschedule"), this);
    m_errorReschedule->setToolTip(QStringLiteral("Rescheduled after an error (Yes:Error)"));
    m_active = new QCheckBox(QStringLiteral("&Active"), this);
    m_active->setToolTip(QStringLiteral("A state column starts with \"Active\""));
    m_notCompleted = new QCheckBox(QStringLiteral("&Not Completed"), this);
    m_notCompleted->setToolTip(QStringLiteral("The invoker state is not \"Completed\""));
    auto* choices = new QHBoxLayout;
    choices->addWidget(m_errorReschedule);
    choices->addWidget(m_active);
    choices->addWidget(m_notCompleted);
    choices->addStretch(1);
    m_find = new QPushButton(QStringLiteral("F&ind"), this);
    m_find->setDefault(true);
    connect(m_find, &QPushButton::clicked, this, &FindOnWorkstationsDialog::find);
    m_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_cancel->setEnabled(false);
    connect(m_cancel, &QPushButton::clicked, &m_reader, &WorkstationReader::cancel);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progress->setFormat(QString()); // nothing to count before the first search
    auto* findRow = new QHBoxLayout;
    findRow->addWidget(m_find);
    findRow->addWidget(m_cancel);
    findRow->addWidget(m_progress, 1);
    auto* filter = new QFormLayout;
    filter->addRow(QStringLiteral("&Text:"), m_text);
    filter->addRow(QStringLiteral("Only:"), choices);
    auto* filterBox = new QVBoxLayout;
    filterBox->addLayout(filter);
    filterBox->addStretch(1);
    filterBox->addLayout(findRow);

    auto* top = new QHBoxLayout;
    top->addLayout(namesBox, 1);
    top->addLayout(filterBox, 2);

    m_tasks = new QTreeWidget(this);
    m_tasks->setObjectName(QStringLiteral("tasks"));
    m_tasks->setRootIsDecorated(false);
    m_tasks->setUniformRowHeights(true);
    m_tasks->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_tasks->setHeaderLabels(workstationExportHeader());
    m_tasks->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_tasks->setColumnWidth(0, 120);
    m_tasks->setColumnWidth(1, 150);
    m_tasks->setColumnWidth(2, 220);
    connect(m_tasks, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const int index = item->data(0, kWorkstationRole).toInt();
        if (index >= 0 && index < m_workstations.size())
            emit openTask(m_workstations.at(index), item->data(0, kTaskIdRole).toString());
    });

    m_unread = new QTreeWidget(this);
    m_unread->setRootIsDecorated(false);
    m_unread->setHeaderLabels(
        {QStringLiteral("Workstation"), QStringLiteral("Not read, or not whole, because")});
    m_unread->setColumnWidth(0, 150);

    auto* results = new QSplitter(Qt::Vertical, this);
    results->addWidget(m_tasks);
    results->addWidget(m_unread);
    results->setStretchFactor(0, 4);
    results->setStretchFactor(1, 1);

    m_status = new QLabel(this);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_export = buttons->addButton(QStringLiteral("E&xport as CSV..."), QDialogButtonBox::ActionRole);
    m_export->setEnabled(false);
    connect(m_export, &QPushButton::clicked, this, &FindOnWorkstationsDialog::exportFound);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(results, 1);
    layout->addLayout(bottom);
    resize(1100, 640);

    connect(&m_reader, &WorkstationReader::workstationRead, this, &FindOnWorkstationsDialog::addResult);
    connect(&m_reader, &WorkstationReader::progressed, this, &FindOnWorkstationsDialog::showProgress);
    connect(&m_reader, &WorkstationReader::finished, this, &FindOnWorkstationsDialog::ended);
    // Closed while it reads: nothing more is shown, and no further workstation is asked.
    connect(this, &QDialog::finished, &m_reader, &WorkstationReader::cancel);
}

void FindOnWorkstationsDialog::setNames(const QString& names) {
    m_names->setPlainText(names);
}

void FindOnWorkstationsDialog::setFilter(const TaskFilter& filter) {
    m_text->setText(filter.text);
    m_errorReschedule->setChecked(filter.errorReschedule);
    m_active->setChecked(filter.active);
    m_notCompleted->setChecked(filter.notCompleted);
}

TaskFilter FindOnWorkstationsDialog::filter() const {
    TaskFilter filter;
    filter.text = m_text->text().trimmed();
    filter.errorReschedule = m_errorReschedule->isChecked();
    filter.active = m_active->isChecked();
    filter.notCompleted = m_notCompleted->isChecked();
    return filter;
}

void FindOnWorkstationsDialog::find() {
    QList<Workstation> workstations;
    QString error;
    if (!workstationList(m_names->toPlainText(), m_map, workstations, error)) {
        m_status->setText(QStringLiteral("Not searched: ") + error);
        return;
    }
    if (workstations.isEmpty()) {
        m_status->setText(QStringLiteral("Name at least one workstation, one a line."));
        return;
    }
    m_reader.cancel();
    m_tasks->clear();
    m_unread->clear();
    m_workstations = workstations;
    m_rowsOf = QList<int>(workstations.size(), 0);
    m_found = 0;
    m_read = 0;
    WorkstationQuery query;
    query.what = WorkstationQuery::What::TaskList;
    query.filter = filter();
    setSearching(true);
    m_reader.start(workstations, query);
}

void FindOnWorkstationsDialog::addResult(int index, const WorkstationResult& result) {
    const Workstation& workstation = m_workstations.at(index);
    const auto unread = [&](const QString& reason) {
        auto* item = new QTreeWidgetItem(
            m_unread, {workstation.name, workstationLabel(workstation) + QStringLiteral(": ") + reason});
        item->setToolTip(1, item->text(1));
    };
    if (!result.error.isEmpty()) {
        unread(result.error);
        return;
    }
    ++m_read;
    for (const QString& problem : result.problems)
        unread(problem);
    // The rows of each workstation stay together, in the order of the list of names.
    int at = std::accumulate(m_rowsOf.cbegin(), m_rowsOf.cbegin() + index, 0);
    QList<QTreeWidgetItem*> items;
    items.reserve(result.rows.size());
    for (const TaskRow& row : result.rows) {
        QStringList shown{workstation.name, cappedCell(row.key.mid(1))};
        for (int column = 1; column < kTaskColumns.size(); ++column)
            shown << row.columnText(column);
        auto* item = new QTreeWidgetItem(shown);
        item->setData(0, kWorkstationRole, index);
        item->setData(0, kTaskIdRole, row.key.mid(1));
        item->setData(0, kExportRole, workstationExportCells(workstation, row));
        items << item;
    }
    m_tasks->insertTopLevelItems(at, items);
    m_rowsOf[index] += int(items.size());
    m_found += int(items.size());
}

void FindOnWorkstationsDialog::showProgress(int done, int total) {
    m_progress->setRange(0, std::max(total, 1));
    m_progress->setValue(done);
    m_progress->setFormat(QStringLiteral("%v of %m"));
    m_status->setText(
        QStringLiteral("%1 of %2 workstations read, %3 tasks found").arg(done).arg(total).arg(m_found));
}

void FindOnWorkstationsDialog::ended(bool cancelled) {
    setSearching(false);
    const int total = int(m_workstations.size());
    const QString tasks = m_found == 1 ? QStringLiteral("1 task") : QStringLiteral("%1 tasks").arg(m_found);
    if (cancelled)
        m_status->setText(QStringLiteral("Cancelled after %1 of %2 workstations: %3 found")
                              .arg(m_progress->value())
                              .arg(total)
                              .arg(tasks));
    else
        m_status->setText(
            QStringLiteral("%1 found on %2 of %3 workstations read").arg(tasks).arg(m_read).arg(total));
    emit searchEnded();
}

void FindOnWorkstationsDialog::setSearching(bool searching) {
    m_find->setEnabled(!searching);
    m_cancel->setEnabled(searching);
    m_names->setReadOnly(searching);
    m_export->setEnabled(!searching && m_tasks->topLevelItemCount() > 0);
}

QString FindOnWorkstationsDialog::foundCsv() const {
    QList<QStringList> rows;
    rows.reserve(m_tasks->topLevelItemCount());
    for (int i = 0; i < m_tasks->topLevelItemCount(); ++i)
        rows << m_tasks->topLevelItem(i)->data(0, kExportRole).toStringList();
    return csvText(workstationExportHeader(), rows);
}

QString FindOnWorkstationsDialog::statusText() const {
    return m_status->text();
}

QStringList FindOnWorkstationsDialog::unreadText() const {
    QStringList lines;
    for (int i = 0; i < m_unread->topLevelItemCount(); ++i)
        lines << m_unread->topLevelItem(i)->text(1);
    return lines;
}

void FindOnWorkstationsDialog::loadNames() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Workstation names"), QString(),
                                                      QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    QString text;
    QString error;
    if (!readNameList(path, text, error)) {
        m_status->setText(error);
        return;
    }
    m_names->setPlainText(text);
}

void FindOnWorkstationsDialog::exportFound() {
    const QString suggested =
        QDir(QFileInfo(defaultExportPath()).path()).filePath(QStringLiteral("found.csv"));
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the tasks found"), suggested,
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (saveCsv(path, foundCsv(), error))
        m_status->setText(exportedText(m_tasks->topLevelItemCount(), path));
    else
        m_status->setText(error);
}

} // namespace corvane
