#pragma once

#include "agent/AgentPaths.h"
#include "base/Clock.h"

#include <QWidget>

#include <memory>

class QSettings;
class QTimer;

namespace corvane {

class AgentSession;
class Form2;
class HistoryDialog;
class MessagePresenter;
class TaskDetailsDialog;
class TaskListModel;
class TaskListView;
struct ControlState;
struct Form1Controls;
struct InvokerLogUpdate;
struct TaskRow;
enum class TaskAction;

// The main window: the task list, the invoker log, the actions and the status line. It binds its controls
// to the agent's session and shows what the session says; the rules live in the session.
class Form1 : public QWidget {
    Q_OBJECT

public:
    static constexpr int kRefreshIntervalMs = 5000;

    Form1(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock = systemClock(),
          QWidget* parent = nullptr);
    ~Form1() override;

    // The status line (second panel of the status bar).
    void setStatus(const QString& text);

    AgentSession* session() const { return m_session; }
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
    void bindControls();
    void bindSession();
    void bindSync();
    void showControls(const ControlState& state);
    void runActionFromMenu(TaskAction action, const QString& key);
    void showOnlyTaskInLog(const QString& key);
    void showRows(const QList<TaskRow>& rows);
    void onActionEnded(bool checksDone);

    MessagePresenter& m_messages;
    const Clock& m_clock;
    AgentSession* m_session = nullptr;
    std::unique_ptr<Form1Controls> m_ui;
    HistoryDialog* m_history = nullptr;
    Form2* m_form2 = nullptr;
    QByteArray m_form2Geometry; // where the technician last had the sync log window
    QSettings* m_settings = nullptr;
    QTimer* Timer1 = nullptr;
};

} // namespace corvane
