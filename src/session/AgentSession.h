#pragma once

#include "actions/CheckRule.h"
#include "actions/TaskActions.h"
#include "agent/AgentPaths.h"
#include "agent/InvokerLogFollower.h"
#include "agent/Workstation.h"
#include "base/AgentFile.h"
#include "session/ControlState.h"
#include "sync/PolicySyncRun.h"
#include "tasklist/TaskRow.h"

#include <QDateTime>
#include <QObject>

#include <functional>

class QTimer;

namespace corvane {

class ActionRunner;
class Clock;
class InvokerLogWatch;
class MessagePresenter;
class TaskListRefresh;
class TaskTable;

// One agent's live state and the rules of when what may run: the task list's reads, the invoker log's
// watch, the actions on checked tasks and Policy Sync. The window sends it commands and shows what its
// signals say; it asks the technician through `messages`. QtCore only: every rule here can be tested without
// a window.
//
// The agent of another workstation is reached through its share: every read of it runs on threads of its
// own, each read starts with a look at the share, and a share that gives no answer within the deadline is
// named as such in the Workstation notice. It is read only until the technician allows changes over the
// network, and it never runs Policy Sync.
class AgentSession : public QObject {
    Q_OBJECT

public:
    // What keeps the list or the log box from showing the agent's state: not worth a message every five
    // seconds, nor worth hiding.
    // Workstation: why another workstation's share gives no answer.
    enum class Notice { Workstation, TaskList, InvokerLog, Count };

    // The agent of the machine Corvane runs on, at `paths`.
    AgentSession(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock,
                 QObject* parent = nullptr);
    // The agent of `workstation`; a remote one is first looked at by the first refresh().
    AgentSession(const Workstation& workstation, MessagePresenter& messages, const Clock& clock,
                 QObject* parent = nullptr);
    ~AgentSession() override;

    const Workstation& workstation() const { return m_workstation; }
    bool isRemote() const { return m_workstation.remote; }
    const AgentPaths& paths() const { return m_paths; }
    SessionFacts facts() const;
    ControlState controls() const { return controlState(facts()); }

    // The task list. refresh() reads the agent now; tick() is the five-second timer: a read when "Auto" is
    // on (or the missing database is back) and nothing forbids a rebuild, and a look at the invoker log.
    void refresh();
    void tick();
    bool autoRefresh() const { return m_auto; }
    // "Auto" stays off while the database is missing, whoever asks.
    void setAutoRefresh(bool on);
    // The check rule for a row the technician ticked or cleared; "Auto" goes off when it says so.
    CheckOutcome tickRow(TaskRow::Tag tag, bool nowChecked);
    // The table behind the rows last handed out by rowsRead, and when they were read.
    const TaskTable& table() const;
    // The log box shows another day's part of the invoker log, as it stands; today (or an invalid date)
    // follows today's part again.
    void showLogDay(const QDate& day);
    QDate logDay() const { return m_logDay; }
    QDateTime readAt() const;
    bool isReading() const;

    // Stop Install or Reinstall on the checked rows, through the preview; `onCancel` runs when the technician
    // cancels it.
    void act(TaskAction action, const QList<CheckedRow>& checked, const std::function<void()>& onCancel = {});
    // Takes back journal entries, through the same preview and report.
    void undo(const QList<qint64>& entries);
    // Takes back the last action of this session.
    void undoLast();
    bool isActing() const;
    bool askBeforeChanging() const;
    void setAskBeforeChanging(bool ask);

    // Starts a Policy Sync, or joins the synchroniser running on the machine (`follow`).
    void startSync(bool follow);
    void cancelSync();
    bool isSyncRunning() const { return m_syncRunning; }
    qint64 syncElapsedMs() const;
    void setSyncTiming(const PolicySyncRun::Timing& timing) { m_syncTiming = timing; }

    // The window closes: a running synchroniser runs on (it belongs to the agent), with no message and no
    // read on the way out.
    void shutdown();

    // "Allow changes over the network": Stop Install, Reinstall and Undo on a remote workstation. Has no
    // effect on the local one, where they are always allowed.
    void setChangesAllowed(bool allowed);
    bool changesAllowed() const { return m_changesAllowed; }
    // How long a remote share may take to answer before its tab says so (tests make it short).
    void setShareDeadlineMs(int deadlineMs) { m_shareDeadlineMs = deadlineMs; }

signals:
    void statusChanged(const QString& text);
    // The agent's program folder moved: paths() names the new places.
    void pathsChanged();
    void noticeChanged(corvane::AgentSession::Notice kind, const QString& text);
    void controlsChanged(const corvane::ControlState& state);
    void autoRefreshChanged(bool on);

    // New rows for the list, to take in one step.
    void rowsRead(const QList<corvane::TaskRow>& rows);
    // A read has ended and its outcome is shown (new rows, or the last list kept with a notice).
    void taskListRead();
    // What changed in today's part of the invoker log.
    void logUpdated(const corvane::InvokerLogUpdate& update);
    // The log could not be read: what the box shows stays, the notice says why.
    void logReadFailed();
    // The box shows the part of `day`, or today's when it is invalid.
    void logDayChanged(const QDate& day);

    // An action or an Undo ended; `checksDone`: it changed something, so the ticks have served.
    void actionEnded(const corvane::ActionReport& report, bool checksDone);
    void waitingForDatabase(bool waiting);
    void askBeforeChangingChanged(bool ask);

    // A Policy Sync: asked (Cancel is offered from here), begun `elapsedMs` ago, each pass's lines, the
    // summary, the end (`abandoned`: left running by Cancel).
    void syncStarted();
    void syncBegan(qint64 elapsedMs);
    void syncPassed(const corvane::SyncPass& pass);
    void syncSummarised(const QString& summary);
    void syncEnded(bool abandoned);

    void changesAllowedChanged(bool allowed);

private:
    class MessageScope;
    void tell(const QString& text);
    void showDatabaseMissing();
    void onDatabaseMissingChanged(bool missing);
    void onTaskListRead();
    void onLogUpdate(const InvokerLogUpdate& update);
    void onActionDone(const ActionReport& report);
    void createSync();
    void onSyncFinished(PolicySyncRun::Outcome outcome, const QString& message);
    void updateControls();
    bool refuseChange();
    void lookAtShare(bool thenRead);
    void onShareDeadline();
    void setShareProblem(const QString& problem);

    Workstation m_workstation;
    AgentPaths m_paths;
    MessagePresenter& m_messages;
    const Clock& m_clock;
    TaskListRefresh* m_refresh = nullptr;
    InvokerLogWatch* m_logWatch = nullptr;
    ActionRunner* m_actions = nullptr;
    PolicySyncRun* m_sync = nullptr;
    PolicySyncRun::Timing m_syncTiming;

    bool m_auto = true;
    bool m_databaseMissing = false;
    bool m_syncRunning = false;
    bool m_actionRunning = false;
    int m_messagesOpen = 0;
    QDate m_logDay; // invalid while the box follows today's part
    ControlState m_shownControls;
    QString m_actionSummary;     // the last action's summary, for the status line after its read
    QList<qint64> m_lastChanges; // the journal entries of this session's last action, for undoLast()

    // A remote workstation's share.
    bool m_changesAllowed = false;
    bool m_looking = false;       // a look at the share is under way
    bool m_readAfterLook = false; // a refresh came during the look
    int m_shareDeadlineMs = kAgentFileDeadlineMs;
    QTimer* m_shareDeadline = nullptr;
    QString m_shareProblem;
};

} // namespace corvane
