#pragma once

#include "agent/AgentPaths.h"
#include "agent/Workstation.h"
#include "base/Clock.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QSettings;
class QTimer;

namespace corvane {

class AgentSession;
class FindOnWorkstationsDialog;
class Form2;
class HistoryDialog;
class MessagePresenter;
class TaskDetailsDialog;
class TaskListModel;
class TaskListView;
class WorkstationTabs;
class WorkstationView;

// The main window: one tab per workstation (WorkstationView: the task list, the invoker log, the actions and
// the status line of one session), the local machine's first and alone unless the technician connects to
// another. It binds the window's keys, settings and the Policy Sync log window to them.
class Form1 : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 5000;

    Form1(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock = systemClock(),
          QWidget* parent = nullptr);
    ~Form1() override;

    // Maps a typed name to a workstation; false with the reason when it names none.
    using WorkstationResolver = std::function<bool(const QString&, Workstation&, QString&)>;

    // The status line (second panel of the current tab's status bar).
    void setStatus(const QString& text);

    // The current tab's session, view and list.
    AgentSession* session() const;
    WorkstationView* currentView() const;
    WorkstationTabs* tabs() const { return m_tabs; }
    TaskListModel* taskListModel() const;
    TaskListView* taskListView() const;

    // The window's arrangement (geometry, splitter, columns, sort, View Log, the sync log window's place) and
    // the preview choice, per user; `settings` is kept for the choices made while the window is open.
    void restoreSettings(QSettings& settings);
    void saveSettings(QSettings& settings) const;
    // Saves the rows the list shows, in the order shown, as CSV; false with the reason when it fails.
    bool saveShownList(const QString& path, QString& error) const;
    // The sync log window, created hidden the first time it is needed.
    Form2* form2();

    // How "Connect to workstation..." maps a name: workstationByName unless set (tests, the demo).
    void setWorkstationResolver(WorkstationResolver resolver) { m_resolver = std::move(resolver); }
    // The names connected to, the latest first.
    QStringList recentWorkstations() const { return m_recent; }
    // Connects to the workstation the technician typed: its tab, opened or shown; false (the reason shown)
    // when the name names none.
    bool connectTo(const QString& typed);

signals:
    // A tab's read has ended: its list shows what it read, or the last list with a notice saying why.
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
    // "Connect to workstation..." (Ctrl+K): asks for the name, the recent ones offered.
    void connectToWorkstation();
    // "Find on workstations...": the dialog, not modal; a task found there opens in its workstation's tab.
    FindOnWorkstationsDialog* findOnWorkstations();
    // Opens the tab of `workstation` or switches to it, and selects the task `taskId` once its list holds
    // it.
    void openWorkstation(const corvane::Workstation& workstation, const QString& taskId = {});

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void bindKeys();
    void bindSync();
    void bindView(WorkstationView* view);
    void showTitle();
    void remember(const QString& name);

    MessagePresenter& m_messages;
    const Clock& m_clock;
    WorkstationTabs* m_tabs = nullptr;
    WorkstationResolver m_resolver;
    QStringList m_recent;
    Form2* m_form2 = nullptr;
    QPointer<FindOnWorkstationsDialog> m_find;
    QByteArray m_form2Geometry; // where the technician last had the sync log window
    QSettings* m_settings = nullptr;
    QTimer* Timer1 = nullptr;
};

} // namespace corvane
