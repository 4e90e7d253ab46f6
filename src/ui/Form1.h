#pragma once

#include "actions/TaskActions.h"
#include "agent/AgentPaths.h"
#include "agent/InvokerLogFollower.h"
#include "agent/TaskTable.h"
#include "base/Clock.h"
#include "sync/PolicySyncRun.h"
#include "tasklist/Feedback.h"
#include "tasklist/TaskListRefresh.h"
#include "tasklist/TaskRow.h"

#include <QIcon>
#include <QMap>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSettings;
class QSplitter;
class QTimer;

namespace corvane {

class ActionRunner;
class AutoRefreshCheck;
class Form2;
class HistoryDialog;
class InvokerLogBox;
class LogSearchBar;
class TaskDetailsDialog;
class MessagePresenter;
class NoticePanel;
class SyncStatusPanel;
class TaskFilterBar;
class TaskListModel;
class TaskListProxy;
class TaskListView;

// The main window: the task list, the invoker log, the actions and the status line.
class Form1 : public QWidget, public Feedback {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 5000;

    Form1(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock = systemClock(),
          QWidget* parent = nullptr);
    ~Form1() override;

    // Feedback: the status line (second panel of the status bar) and modal messages titled "Corvane".
    void setStatus(const QString& text) override;
    void showMessage(const QString& text) override;

    TaskListModel* taskListModel() const { return m_model; }
    TaskListView* taskListView() const { return ListView1; }

    // The window's arrangement (geometry, splitter, columns, sort, View Log, the sync log window's place).
    void restoreSettings(QSettings& settings);
    void saveSettings(QSettings& settings) const;
    // Saves the rows the list shows, in the order shown, as CSV; false with the reason when it fails.
    bool saveShownList(const QString& path, QString& error) const;
    const TaskTable& taskTable() const { return m_refresh->table(); }
    bool isReadingTaskList() const { return m_refresh->isReading(); }
    // The sync log window, created hidden the first time it is needed.
    Form2* form2();
    bool isSyncRunning() const { return m_sync && m_sync->isRunning(); }
    void setSyncTiming(const PolicySyncRun::Timing& timing) { m_syncTiming = timing; }

signals:
    // A run of Form_Load has ended: the list shows what it read, or the last list with a notice saying why.
    void taskListRead();

public slots:
    // Reads the agent's files off the interface thread, then rebuilds the task table, the list and the log
    // box from them; the list stays as it is until then.
    void Form_Load();
    void BtnRefresh_Click();
    void BtnPortal_Click();
    // Joins the policy synchroniser running on the machine and follows its log.
    void followSync();
    void BtnStop_Click();
    void BtnUpdate_Click();
    void Timer1_Timer();
    void ListView1_ItemCheck(int row);
    // "Export...": asks for a file and saves the shown rows there.
    void exportList();
    // Opens the details of the task with `key` beside the list (not modal).
    TaskDetailsDialog* showDetails(const QString& key);
    // Opens the history of changes, keeping to the task with `key` when asked.
    HistoryDialog* showHistory(const QString& key, bool onlyThisTask);
    // Takes back the changes of journal entries, after the preview.
    void undoChanges(const QList<qint64>& entries);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void showFilterCounts();
    void runActionFromMenu(TaskAction action, const QString& key);
    void placeBeside(QWidget& window) const;
    void showOnlyTaskInLog(const QString& key);
    void showRows(const QList<TaskRow>& rows);
    void onDatabaseMissingChanged(bool missing);
    void showDatabaseMissing();
    void onTaskListRead();
    void readInvokerLog();
    void showLogUpdate(const InvokerLogUpdate& update);
    // What keeps the list or the log box from showing the agent's state, in the first status panel until
    // the next read succeeds: it is not worth a message every five seconds, nor worth hiding.
    enum class Notice { TaskList, InvokerLog, Count };
    void setNotice(Notice kind, const QString& text);
    // `onCancel` runs when the technician cancels the preview.
    void startAction(TaskAction action, const std::function<void()>& onCancel = {});
    void onActionDone(const ActionReport& report);
    void startSync(bool follow);
    void setSyncControlsEnabled(bool enabled);
    void onSyncFinished(PolicySyncRun::Outcome outcome, const QString& message);

    AgentPaths m_paths;
    MessagePresenter& m_messages;
    const Clock& m_clock;
    TaskListRefresh* m_refresh = nullptr;
    QString m_dbErrorText;
    // Shared with the worker that reads a large part of the log off the interface thread.
    std::shared_ptr<InvokerLogFollower> m_logFollower;
    bool m_logReadRunning = false;
    // Above zero while an action or a message is in progress: a timer tick must not rebuild the list then,
    // since the actions read the rows by position.
    int m_busy = 0;
    ActionRunner* m_actions = nullptr;
    QString m_actionSummary;     // the last action's summary, for the status line after its rebuild
    QList<qint64> m_lastChanges; // the journal entries of this window's last action, for Ctrl+Z
    HistoryDialog* m_history = nullptr;
    PolicySyncRun::Timing m_syncTiming;
    PolicySyncRun* m_sync = nullptr;
    Form2* m_form2 = nullptr;
    QByteArray m_form2Geometry; // where the technician last had the sync log window
    // Which of the other action controls were enabled before a sync disabled them.
    QList<std::pair<QWidget*, bool>> m_enabledBeforeSync;

    QMap<TaskRow::Icon, QIcon> m_imageList1;
    TaskListModel* m_model = nullptr;
    TaskListProxy* m_proxy = nullptr;
    TaskFilterBar* m_filterBar = nullptr;
    LogSearchBar* m_logSearch = nullptr;
    QSplitter* m_splitter = nullptr;
    InvokerLogBox* Text1 = nullptr;
    TaskListView* ListView1 = nullptr;
    QPushButton* BtnRefresh = nullptr;
    QLabel* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* BtnPortal = nullptr;
    QPushButton* BtnUpdate = nullptr;
    QWidget* StatusBar1 = nullptr;
    NoticePanel* m_statusPanel1 = nullptr;
    QLabel* m_statusUpdated = nullptr;
    QLabel* m_statusPanel2 = nullptr;
    SyncStatusPanel* m_syncPanel = nullptr;
    AutoRefreshCheck* Check1 = nullptr;
    QPushButton* BtnStop = nullptr;
    QCheckBox* CheckViewLog = nullptr;
    QTimer* Timer1 = nullptr;
};

} // namespace corvane
