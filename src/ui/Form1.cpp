#include "ui/Form1.h"

#include "agent/TaskRecord.h"
#include "session/AgentSession.h"
#include "session/MessagePresenter.h"
#include "tasklist/TaskListExport.h"
#include "ui/AppFont.h"
#include "ui/ExportTarget.h"
#include "ui/Form1Controls.h"
#include "ui/Form2.h"
#include "ui/HistoryDialog.h"
#include "ui/InvokerLogBox.h"
#include "ui/LogSearchBar.h"
#include "ui/NoticePanel.h"
#include "ui/ScreenFit.h"
#include "ui/SyncStatusPanel.h"
#include "ui/TaskDetailsDialog.h"
#include "ui/TaskFilterBar.h"
#include "ui/TaskListModel.h"
#include "ui/TaskListProxy.h"
#include "ui/TaskListView.h"
#include "ui/Twips.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>

namespace corvane {

namespace {

const QString kTitle = QStringLiteral("Corvane");
const QString kUpdatedText = QStringLiteral("Updated ");

// Settings: what the technician arranged and chose, per user.
const QString kGeometryKey = QStringLiteral("window/geometry");
const QString kSplitterKey = QStringLiteral("window/splitter");
const QString kHeaderKey = QStringLiteral("list/header");
const QString kSizedColumnsKey = QStringLiteral("list/sizedColumns");
const QString kViewLogKey = QStringLiteral("window/viewLog");
const QString kSyncLogGeometryKey = QStringLiteral("syncLog/geometry");
const QString kAskKey = QStringLiteral("actions/askBeforeChanging");

} // namespace

Form1::Form1(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_messages(messages)
    , m_clock(clock)
    , m_session(new AgentSession(paths, messages, clock, this)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QStringLiteral(":/corvane/corvane.png")));
    useApplicationFont();
    setFont(applicationFont()); // this window was made before the application's font changed
    m_ui = std::make_unique<Form1Controls>(this, paths.synchroniser(), m_clock);
    resize(twips(11160), twips(5625));
    fitOnScreen(*this);
    layout()->activate(); // the list has its width before the first load, shown or not
    bindControls();
    bindSession();
    bindSync();
    m_ui->syncPanel->lookForSynchroniser(); // one left running by an earlier Corvane, or started by the agent

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kRefreshIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();
}

Form1::~Form1() = default;

void Form1::bindControls() {
    Form1Controls& ui = *m_ui;
    connect(ui.model, &TaskListModel::itemCheck, this, &Form1::ListView1_ItemCheck);
    connect(ui.BtnRefresh, &QPushButton::clicked, this, &Form1::BtnRefresh_Click);
    connect(ui.BtnPortal, &QPushButton::clicked, this, &Form1::BtnPortal_Click);
    connect(ui.BtnUpdate, &QPushButton::clicked, this, &Form1::BtnUpdate_Click);
    connect(ui.BtnStop, &QPushButton::clicked, this, &Form1::BtnStop_Click);
    connect(ui.Check1, &QCheckBox::toggled, m_session, &AgentSession::setAutoRefresh);
    connect(ui.askAction, &QAction::toggled, this, [this](bool ask) {
        m_session->setAskBeforeChanging(ask);
        if (m_settings)
            m_settings->setValue(kAskKey, ask);
    });
    connect(ui.CheckViewLog, &QCheckBox::toggled, this, [this](bool shown) {
        // A log window closed during a run can be opened again, and after a run it shows that run's lines.
        if (m_session->isSyncRunning() || m_form2)
            form2()->setVisible(shown);
    });

    auto shortcut = [this](const QKeySequence& keys, auto slot) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_F5), [this] {
        if (m_ui->BtnRefresh->isEnabled())
            m_ui->BtnRefresh->click();
    });
    shortcut(QKeySequence::Undo, [this] { m_session->undoLast(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_H),
             [this] { showHistory(m_ui->ListView1->currentKey(), false); });
    // Ctrl+F searches the log box once the technician has gone into it, else filters the list.
    shortcut(QKeySequence::Find, [this] {
        if (m_ui->logSearch->isWanted())
            m_ui->logSearch->activate();
        else
            m_ui->filterBar->activate();
    });

    TaskListView* list = ui.ListView1;
    list->setActionAvailable([this](TaskAction action) {
        return (action == TaskAction::StopInstall ? m_ui->BtnStop : m_ui->BtnUpdate)->isEnabled();
    });
    connect(list, &TaskListView::actionRequested, this, &Form1::runActionFromMenu);
    connect(list, &TaskListView::exportRequested, this, &Form1::exportList);
    connect(list, &TaskListView::legendRequested, this, [this](const QString& text) {
        m_messages.show(text, QStringLiteral("Legend"), MessagePresenter::Icon::None);
    });
    connect(list, &TaskListView::onlyThisTaskRequested, this, &Form1::showOnlyTaskInLog);
    connect(list, &TaskListView::detailsRequested, this, &Form1::showDetails);
    connect(list, &TaskListView::historyRequested, this,
            [this](const QString& key) { showHistory(key, true); });
    connect(list->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!m_ui->Text1->onlyTask().isEmpty() && !m_ui->ListView1->currentKey().isEmpty())
            showOnlyTaskInLog(m_ui->ListView1->currentKey());
    });
}

void Form1::bindSession() {
    connect(m_session, &AgentSession::statusChanged, this, &Form1::setStatus);
    connect(m_session, &AgentSession::noticeChanged, this,
            [this](AgentSession::Notice kind, const QString& text) {
                m_ui->statusPanel1->setNotice(int(kind), text);
            });
    connect(m_session, &AgentSession::controlsChanged, this, &Form1::showControls);
    connect(m_session, &AgentSession::autoRefreshChanged, this, [this](bool on) {
        const QSignalBlocker quiet(m_ui->Check1); // the session said it; no need to tell it back
        m_ui->Check1->setChecked(on);
    });
    connect(m_session, &AgentSession::rowsRead, this, &Form1::showRows);
    connect(m_session, &AgentSession::taskListRead, this, &Form1::taskListRead);
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

void Form1::bindSync() {
    SyncStatusPanel* panel = m_ui->syncPanel;
    connect(panel, &SyncStatusPanel::followClicked, this, &Form1::followSync);
    connect(panel, &SyncStatusPanel::cancelClicked, m_session, &AgentSession::cancelSync);
    connect(m_session, &AgentSession::syncStarted, panel, [panel] { panel->showRun(0); });
    connect(m_session, &AgentSession::syncBegan, this, [this](qint64 elapsedMs) {
        form2()->clearLines();
        m_ui->syncPanel->showRun(elapsedMs);
        if (m_ui->CheckViewLog->isChecked())
            form2()->show();
    });
    connect(m_session, &AgentSession::syncPassed, this, [this](const SyncPass& pass) {
        if (pass.fromStart)
            form2()->clearLines();
        form2()->appendLines(pass.lines);
    });
    connect(m_session, &AgentSession::syncSummarised, this,
            [this](const QString& summary) { form2()->appendLines({summary}); });
    connect(m_session, &AgentSession::syncEnded, panel, &SyncStatusPanel::endRun);
}

void Form1::showControls(const ControlState& state) {
    m_ui->BtnRefresh->setEnabled(state.refresh);
    m_ui->BtnPortal->setEnabled(
        state.policySync); // View Log stays usable: a closed log window can be opened again
    m_ui->BtnStop->setEnabled(state.stopInstall);
    m_ui->BtnUpdate->setEnabled(state.reinstall);
    m_ui->Check1->setEnabled(state.autoRefresh);
}

TaskListModel* Form1::taskListModel() const {
    return m_ui->model;
}

TaskListView* Form1::taskListView() const {
    return m_ui->ListView1;
}

// A row menu's Stop Install or Reinstall ticks that row as a click would (the check rule applies), then
// runs the button's action on every checked row. Cancelled, it leaves the tick and "Auto" as they were.
void Form1::runActionFromMenu(TaskAction action, const QString& key) {
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

void Form1::exportList() {
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

bool Form1::saveShownList(const QString& path, QString& error) const {
    const TaskListProxy& proxy = *m_ui->proxy;
    QList<TaskRow> rows;
    rows.reserve(proxy.rowCount());
    for (int row = 0; row < proxy.rowCount(); ++row)
        rows << m_ui->model->taskRow(proxy.mapToSource(proxy.index(row, 0)).row());
    return saveTaskListCsv(path, rows, error);
}

void Form1::restoreSettings(QSettings& settings) {
    m_settings = &settings;
    restoreGeometry(settings.value(kGeometryKey).toByteArray());
    fitOnScreen(*this); // saved on a larger screen, or at a smaller scale
    m_ui->splitter->restoreState(settings.value(kSplitterKey).toByteArray());
    QList<int> sized;
    for (const QVariant& column : settings.value(kSizedColumnsKey).toList())
        sized << column.toInt();
    m_ui->ListView1->restoreHeaderState(settings.value(kHeaderKey).toByteArray(), sized);
    m_ui->CheckViewLog->setChecked(settings.value(kViewLogKey, false).toBool());
    m_form2Geometry = settings.value(kSyncLogGeometryKey).toByteArray();
    m_ui->askAction->setChecked(settings.value(kAskKey, true).toBool());
}

void Form1::saveSettings(QSettings& settings) const {
    settings.setValue(kGeometryKey, saveGeometry());
    settings.setValue(kSplitterKey, m_ui->splitter->saveState());
    settings.setValue(kHeaderKey, m_ui->ListView1->headerState());
    QVariantList sized;
    for (int column : m_ui->ListView1->sizedColumns())
        sized << column;
    settings.setValue(kSizedColumnsKey, sized);
    settings.setValue(kViewLogKey, m_ui->CheckViewLog->isChecked());
    const QByteArray form2Geometry = m_form2 ? m_form2->saveGeometry() : m_form2Geometry;
    if (!form2Geometry.isEmpty())
        settings.setValue(kSyncLogGeometryKey, form2Geometry);
    settings.setValue(kAskKey, m_session->askBeforeChanging());
}

void Form1::setStatus(const QString& text) {
    m_ui->statusPanel2->setText(text);
}

void Form1::Form_Load() {
    m_session->refresh();
}

// The rows of a read replace the list's in one step; the view keeps the technician's place and scrolls to a
// task that became Active.
void Form1::showRows(const QList<TaskRow>& rows) {
    m_ui->model->setRows(rows);
    m_ui->statusUpdated->setText(kUpdatedText + m_session->readAt().toString(QStringLiteral("HH:mm:ss")));
}

TaskDetailsDialog* Form1::showDetails(const QString& key) {
    const int row = m_ui->model->rowOfKey(key);
    if (row < 0)
        return nullptr;
    auto* dialog = new TaskDetailsDialog(m_session->paths(), m_ui->model->taskRow(row), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

// The log box shows only the lines naming the task's operation file, and follows the current row.
void Form1::showOnlyTaskInLog(const QString& key) {
    const int row = m_ui->model->rowOfKey(key);
    if (row < 0)
        return;
    const QString operationFile = TaskRecord::firstField(m_ui->model->taskRow(row).record);
    if (operationFile.isEmpty())
        return;
    m_ui->Text1->setOnlyTask(operationFile, QStringLiteral("task %1 (%2)").arg(key.mid(1), operationFile));
}

void Form1::BtnRefresh_Click() {
    Form_Load();
}

void Form1::Timer1_Timer() {
    m_session->tick();
}

void Form1::ListView1_ItemCheck(int row) {
    TaskListModel* model = m_ui->model;
    const CheckOutcome outcome = m_session->tickRow(model->taskRow(row).tag, model->isChecked(row));
    model->setChecked(row, outcome.checked);
    if (outcome.boldApplies)
        model->setBold(row, outcome.bold);
}

void Form1::BtnStop_Click() {
    m_session->act(TaskAction::StopInstall, m_ui->model->checkedRows());
}

void Form1::BtnUpdate_Click() {
    m_session->act(TaskAction::Reinstall, m_ui->model->checkedRows());
}

void Form1::undoChanges(const QList<qint64>& entries) {
    m_session->undo(entries);
}

HistoryDialog* Form1::showHistory(const QString& key, bool onlyThisTask) {
    if (!m_history) {
        m_history = new HistoryDialog(m_session->paths().journal(), this);
        connect(m_history, &HistoryDialog::undoRequested, this, &Form1::undoChanges);
    }
    m_history->setTask(key.mid(1), onlyThisTask);
    m_history->show();
    m_history->raise();
    return m_history;
}

void Form1::onActionEnded(bool checksDone) {
    if (checksDone)
        m_ui->model->clearChecks();
    if (m_history && m_history->isVisible())
        m_history->reload();
}

Form2* Form1::form2() {
    if (!m_form2) {
        m_form2 = new Form2(this);
        // Closed by the technician (Escape, the title bar): View Log says so.
        connect(m_form2, &Form2::closed, this, [this] { m_ui->CheckViewLog->setChecked(false); });
        if (m_form2Geometry.isEmpty() || !m_form2->restoreGeometry(m_form2Geometry))
            m_form2->placeBeside(*this);
    }
    return m_form2;
}

void Form1::BtnPortal_Click() {
    m_session->startSync(false);
}

void Form1::followSync() {
    m_session->startSync(true);
}

void Form1::closeEvent(QCloseEvent* event) {
    // The program ends with the main window, whatever other window is open.
    if (m_form2)
        disconnect(m_form2, &Form2::closed, this, nullptr); // View Log is kept for the next start
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this)
            window->close();
    }
    m_session->shutdown();
    event->accept();
}

} // namespace corvane
