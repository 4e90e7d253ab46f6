#include "ui/WorkstationView.h"

#include "agent/TaskRecord.h"
#include "session/AgentSession.h"
#include "session/MessagePresenter.h"
#include "tasklist/TaskListExport.h"
#include "ui/ExportTarget.h"
#include "ui/Form1Controls.h"
#include "ui/HistoryDialog.h"
#include "ui/InvokerLogBox.h"
#include "ui/NoticePanel.h"
#include "ui/TaskDetailsDialog.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListProxy.h"
#include "ui/TaskListView.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

namespace corvane {

namespace {

const QString kTitle = QStringLiteral("Corvane");
const QString kUpdatedText = QStringLiteral("Updated ");
const QString kThisComputer = QStringLiteral("This computer");

} // namespace

WorkstationView::WorkstationView(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock,
                                 QWidget* parent)
    : QWidget(parent)
    , m_messages(messages)
    , m_clock(clock) {
    m_session = new AgentSession(paths, messages, clock, this);
    m_ui = std::make_unique<Form1Controls>(this, paths.synchroniser(), m_clock);
    bindControls();
    bindSession();
}

WorkstationView::WorkstationView(const Workstation& workstation, MessagePresenter& messages,
                                 const Clock& clock, QWidget* parent)
    : QWidget(parent)
    , m_messages(messages)
    , m_clock(clock) {
    // Below this view, so that the history and the details of this workstation read on its own threads.
    m_session = new AgentSession(workstation, messages, clock, this);
    m_ui = std::make_unique<Form1Controls>(this, QString(), m_clock);
    Form1Controls& ui = *m_ui;
    ui.workstationLabel->setText(QStringLiteral("Workstation %1 (%2), read only until changes are allowed")
                                     .arg(workstation.name, QDir::toNativeSeparators(workstation.root)));
    ui.workstationBar->setVisible(workstation.remote);
    ui.BtnPortal->setToolTip(remotePolicySyncReason());
    ui.CheckViewLog->setEnabled(false);
    ui.CheckViewLog->setToolTip(remotePolicySyncReason());
    connect(ui.allowChanges, &QCheckBox::toggled, m_session, &AgentSession::setChangesAllowed);
    connect(m_session, &AgentSession::changesAllowedChanged, this, [this](bool allowed) {
        const QSignalBlocker quiet(m_ui->allowChanges);
        m_ui->allowChanges->setChecked(allowed);
        const Workstation& ws = m_session->workstation();
        m_ui->workstationLabel->setText(
            QStringLiteral("Workstation %1 (%2), %3")
                .arg(ws.name, QDir::toNativeSeparators(ws.root),
                     allowed ? QStringLiteral("changes allowed")
                             : QStringLiteral("read only until changes are allowed")));
    });
    bindControls();
    bindSession();
    showControls(m_session->controls());
}

WorkstationView::~WorkstationView() = default;

const Workstation& WorkstationView::workstation() const {
    return m_session->workstation();
}

QString WorkstationView::title() const {
    return m_session->isRemote() ? workstation().name : kThisComputer;
}

void WorkstationView::setNamed(bool named) {
    m_ui->statusWorkstation->setText(title());
    m_ui->statusWorkstation->setVisible(named);
}

void WorkstationView::bindControls() {
    Form1Controls& ui = *m_ui;
    connect(ui.model, &TaskListModel::itemCheck, this, &WorkstationView::itemCheck);
    connect(ui.BtnRefresh, &QPushButton::clicked, this, &WorkstationView::load);
    connect(ui.BtnUpdate, &QPushButton::clicked, this, &WorkstationView::reinstall);
    connect(ui.BtnStop, &QPushButton::clicked, this, &WorkstationView::stopInstall);
    connect(ui.Check1, &QCheckBox::toggled, m_session, &AgentSession::setAutoRefresh);
    connect(ui.askAction, &QAction::toggled, m_session, &AgentSession::setAskBeforeChanging);

    TaskListView* list = ui.ListView1;
    list->setActionAvailable([this](TaskAction action) {
        return (action == TaskAction::StopInstall ? m_ui->BtnStop : m_ui->BtnUpdate)->isEnabled();
    });
    connect(list, &TaskListView::actionRequested, this, &WorkstationView::runActionFromMenu);
    connect(list, &TaskListView::exportRequested, this, &WorkstationView::exportList);
    connect(list, &TaskListView::legendRequested, this, [this](const QString& text) {
        m_messages.show(text, QStringLiteral("Legend"), MessagePresenter::Icon::None);
    });
    connect(list, &TaskListView::onlyThisTaskRequested, this, &WorkstationView::showOnlyTaskInLog);
    connect(list, &TaskListView::detailsRequested, this, &WorkstationView::showDetails);
    connect(list, &TaskListView::historyRequested, this,
            [this](const QString& key) { showHistory(key, true); });
    connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!m_ui->Text1->onlyTask().isEmpty() && !m_ui->ListView1->currentKey().isEmpty())
            showOnlyTaskInLog(m_ui->ListView1->currentKey());
    });
}

void WorkstationView::bindSession() {
    connect(m_session, &AgentSession::statusChanged, this, &WorkstationView::setStatus);
    connect(m_session, &AgentSession::noticeChanged, this,
            [this](AgentSession::Notice kind, const QString& text) {
                m_ui->statusPanel1->setNotice(int(kind), text);
            });
    connect(m_session, &AgentSession::controlsChanged, this, &WorkstationView::showControls);
    connect(m_session, &AgentSession::autoRefreshChanged, this, [this](bool on) {
        const QSignalBlocker quiet(m_ui->Check1); // the session said it; no need to tell it back
        m_ui->Check1->setChecked(on);
    });
    connect(m_session, &AgentSession::rowsRead, this, &WorkstationView::showRows);
    connect(m_session, &AgentSession::taskListRead, this, &WorkstationView::taskListRead);
    connect(m_session, &AgentSession::logUpdated, this, [this](const InvokerLogUpdate& update) {
        m_ui->Text1->showUpdate(update, m_session->paths().invokerLog());
    });
    connect(m_session, &AgentSession::logReadFailed, m_ui->Text1, &InvokerLogBox::endReading);
    connect(m_session, &AgentSession::logDayChanged, m_ui->Text1, &InvokerLogBox::setDay);
    connect(m_ui->Text1, &InvokerLogBox::dayChosen, m_session, &AgentSession::showLogDay);
    connect(m_session, &AgentSession::actionEnded, this,
            [this](const ActionReport&, bool checksDone) { onActionEnded(checksDone); });
    connect(m_session, &AgentSession::waitingForDatabase, this, [](bool waiting) {
        if (waiting)
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
        else
            QGuiApplication::restoreOverrideCursor();
    });
    connect(m_session, &AgentSession::askBeforeChangingChanged, m_ui->askAction, &QAction::setChecked);
    m_ui->askAction->setChecked(m_session->askBeforeChanging());
}

void WorkstationView::showControls(const ControlState& state) {
    m_ui->BtnRefresh->setEnabled(state.refresh);
    m_ui->BtnPortal->setEnabled(
        state.policySync); // View Log stays usable: a closed log window can be opened again
    m_ui->BtnStop->setEnabled(state.stopInstall);
    m_ui->BtnUpdate->setEnabled(state.reinstall);
    m_ui->Check1->setEnabled(state.autoRefresh);
    if (auto* undo =
            m_history ? m_history->findChild<QPushButton*>(QStringLiteral("HistoryUndo")) : nullptr) {
        if (!undo->property("enabledTip").isValid())
            undo->setProperty("enabledTip", undo->toolTip());
        undo->setEnabled(state.undo);
        undo->setToolTip(state.undo ? undo->property("enabledTip").toString()
                                    : QStringLiteral("Read only: check \"Allow changes over the network\" "
                                                     "above the list"));
    }
}

// A row menu's Stop Install or Reinstall ticks that row as a click would (the check rule applies), then
// runs the button's action on every checked row. Cancelled, it leaves the tick and "Auto" as they were.
void WorkstationView::runActionFromMenu(TaskAction action, const QString& key) {
    TaskListModel* model = m_ui->model;
    const int row = model->rowOfKey(key);
    if (row < 0 || !(action == TaskAction::StopInstall ? m_ui->BtnStop : m_ui->BtnUpdate)->isEnabled())
        return;
    const bool wasChecked = model->isChecked(row);
    const bool wasAuto = m_session->autoRefresh();
    if (!wasChecked)
        model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole);
    if (!model->isChecked(row))
        return;
    m_session->act(action, model->checkedRows(), [this, key, wasChecked, wasAuto] {
        const int row = m_ui->model->rowOfKey(key);
        if (!wasChecked && row >= 0) {
            m_ui->model->setChecked(row, false);
            m_ui->model->setBold(row, false);
        }
        m_session->setAutoRefresh(wasAuto);
    });
}

void WorkstationView::exportList() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Export the task list"), defaultExportPath(),
                                     QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (path.isEmpty())
        return;
    QString error;
    if (saveShownList(path, error))
        setStatus(exportedText(m_ui->proxy->rowCount(), path));
    else
        m_messages.show(error, kTitle, MessagePresenter::Icon::None);
}

bool WorkstationView::saveShownList(const QString& path, QString& error) const {
    const TaskListProxy& proxy = *m_ui->proxy;
    QList<TaskRow> rows;
    rows.reserve(proxy.rowCount());
    for (int row = 0; row < proxy.rowCount(); ++row)
        rows << m_ui->model->taskRow(proxy.mapToSource(proxy.index(row, 0)).row());
    return saveTaskListCsv(path, rows, error);
}

void WorkstationView::setStatus(const QString& text) {
    m_ui->statusPanel2->setText(text);
}

void WorkstationView::load() {
    m_session->refresh();
}

void WorkstationView::tick() {
    m_session->tick();
}

// The rows of a read replace the list's in one step; the view keeps the technician's place and scrolls to a
// task that became Active.
void WorkstationView::showRows(const QList<TaskRow>& rows) {
    m_ui->model->setRows(rows);
    m_ui->statusUpdated->setText(kUpdatedText + m_session->readAt().toString(QStringLiteral("HH:mm:ss")));
    selectPendingTask();
}

void WorkstationView::selectTask(const QString& taskId) {
    m_pendingTask = taskId;
    selectPendingTask();
}

void WorkstationView::selectPendingTask() {
    if (m_pendingTask.isEmpty())
        return;
    TaskListModel* model = m_ui->model;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString key = model->taskRow(row).key;
        if (key.mid(1) != m_pendingTask)
            continue;
        const QModelIndex shown = m_ui->proxy->mapFromSource(model->index(row, 0));
        if (!shown.isValid())
            return; // the filter hides it: kept for when it shows
        m_ui->ListView1->setCurrentIndex(shown);
        m_ui->ListView1->scrollTo(shown);
        m_pendingTask.clear();
        return;
    }
}

TaskDetailsDialog* WorkstationView::showDetails(const QString& key) {
    const int row = m_ui->model->rowOfKey(key);
    if (row < 0)
        return nullptr;
    auto* dialog = new TaskDetailsDialog(m_session->paths(), m_ui->model->taskRow(row), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    if (m_session->isRemote())
        dialog->setWindowTitle(dialog->windowTitle() + QStringLiteral(" - ") + title());
    dialog->show();
    return dialog;
}

// The log box shows only the lines naming the task's operation file, and follows the current row.
void WorkstationView::showOnlyTaskInLog(const QString& key) {
    const int row = m_ui->model->rowOfKey(key);
    if (row < 0)
        return;
    const QString operationFile = TaskRecord::firstField(m_ui->model->taskRow(row).record);
    if (operationFile.isEmpty())
        return;
    m_ui->Text1->setOnlyTask(operationFile, QStringLiteral("task %1 (%2)").arg(key.mid(1), operationFile));
}

void WorkstationView::itemCheck(int row) {
    TaskListModel* model = m_ui->model;
    const CheckOutcome outcome = m_session->tickRow(model->taskRow(row).tag, model->isChecked(row));
    model->setChecked(row, outcome.checked);
    if (outcome.boldApplies)
        model->setBold(row, outcome.bold);
}

void WorkstationView::stopInstall() {
    m_session->act(TaskAction::StopInstall, m_ui->model->checkedRows());
}

void WorkstationView::reinstall() {
    m_session->act(TaskAction::Reinstall, m_ui->model->checkedRows());
}

void WorkstationView::undoChanges(const QList<qint64>& entries) {
    m_session->undo(entries);
}

void WorkstationView::undoLast() {
    m_session->undoLast();
}

HistoryDialog* WorkstationView::showHistory(const QString& key, bool onlyThisTask) {
    if (!m_history) {
        m_history = new HistoryDialog(m_session->paths().journal(), this);
        if (m_session->isRemote())
            m_history->setWindowTitle(m_history->windowTitle() + QStringLiteral(" - ") + title());
        connect(m_history, &HistoryDialog::undoRequested, this, &WorkstationView::undoChanges);
        showControls(m_session->controls());
    }
    m_history->setTask(key.mid(1), onlyThisTask);
    m_history->show();
    m_history->raise();
    return m_history;
}

void WorkstationView::onActionEnded(bool checksDone) {
    if (checksDone)
        m_ui->model->clearChecks();
    if (m_history && m_history->isVisible())
        m_history->reload();
}

} // namespace corvane
