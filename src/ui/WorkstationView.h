#pragma once

#include "agent/AgentPaths.h"
#include "agent/Workstation.h"

#include <QWidget>

#include <memory>

namespace corvane {

class AgentSession;
class Clock;
class HistoryDialog;
class MessagePresenter;
class TaskDetailsDialog;
struct ControlState;
struct Form1Controls;
struct TaskRow;
enum class TaskAction;

// One workstation's tab of the main window: the task list, the invoker log, the actions and the status bar,
// bound to that workstation's session. It shows what the session says; the rules live in the session.
class WorkstationView : public QWidget {
    Q_OBJECT

public:
    // The machine Corvane runs on, its agent at `paths`.
    WorkstationView(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock,
                    QWidget* parent = nullptr);
    // Another workstation; nothing of it is read until load().
    WorkstationView(const Workstation& workstation, MessagePresenter& messages, const Clock& clock,
                    QWidget* parent = nullptr);
    ~WorkstationView() override;

    AgentSession* session() const { return m_session; }
    Form1Controls& controls() const { return *m_ui; }
    const Workstation& workstation() const;
    // What the tab, the title and the status bar call the workstation.
    QString title() const;
    // The status bar names the workstation (while the window has more than one tab).
    void setNamed(bool named);

    void setStatus(const QString& text);
    bool saveShownList(const QString& path, QString& error) const;
    // Selects the task with `taskId` once the list holds it (now, or after the next read).
    void selectTask(const QString& taskId);

signals:
    // A read has ended: the list shows what it read, or the last list with a notice saying why.
    void taskListRead();
    void titleChanged();

public slots:
    void load();
    void tick();
    void stopInstall();
    void reinstall();
    void itemCheck(int row);
    void exportList();
    TaskDetailsDialog* showDetails(const QString& key);
    HistoryDialog* showHistory(const QString& key, bool onlyThisTask);
    void undoChanges(const QList<qint64>& entries);
    void undoLast();

private:
    void bindControls();
    void bindSession();
    void showControls(const ControlState& state);
    void runActionFromMenu(TaskAction action, const QString& key);
    void showOnlyTaskInLog(const QString& key);
    void showRows(const QList<TaskRow>& rows);
    void onActionEnded(bool checksDone);
    void selectPendingTask();

    MessagePresenter& m_messages;
    const Clock& m_clock;
    AgentSession* m_session = nullptr;
    std::unique_ptr<Form1Controls> m_ui;
    HistoryDialog* m_history = nullptr;
    QString m_pendingTask;
};

} // namespace corvane
