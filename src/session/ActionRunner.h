#pragma once

#include "actions/TaskActions.h"
#include "agent/AgentPaths.h"
#include "agent/Workstation.h"

#include <QObject>

#include <functional>
#include <optional>

namespace corvane {

class MessagePresenter;

// Runs Stop Install, Reinstall or Undo: the preview (unless turned off) and the change itself read and write
// the agent database off the interface thread, so a locked database never freezes the window.
class ActionRunner : public QObject {
    Q_OBJECT

public:
    // The report of a run, or nothing when the technician cancelled the preview.
    using Done = std::function<void(const std::optional<ActionReport>&)>;

    ActionRunner(const AgentPaths& paths, MessagePresenter& messages, QObject* parent = nullptr);

    // The agent's files moved: the next action goes there.
    void setPaths(const AgentPaths& paths);
    // Acting on a remote workstation: its preview names it, and a task left unchanged while its share
    // no longer answers says so.
    void setWorkstation(const Workstation& workstation) { m_workstation = workstation; }

    bool isRunning() const { return m_running; }
    // Previews `targets` and asks, then runs the action; `done` follows on the interface thread.
    void start(TaskAction action, const QList<ActionTarget>& targets, Done done);
    // The same for Undo of journal entries.
    void startUndo(const QList<qint64>& entries, Done done);

    // Whether the preview is shown before an action; "Don't ask again" in the preview turns it off.
    bool askBeforeChanging() const { return m_ask; }
    void setAskBeforeChanging(bool ask);

signals:
    void statusChanged(const QString& text);
    // The work waits for the agent's lock (true), or that wait is over (false).
    void waitingForDatabase(bool waiting);
    void askBeforeChangingChanged(bool ask);

private:
    // An action's three ways through the agent database, each run off the interface thread.
    struct Work {
        std::function<ActionReport(Feedback*)> plan;                       // the preview
        std::function<ActionReport(Feedback&)> run;                        // without a preview
        std::function<ActionReport(const ActionReport&, Feedback&)> apply; // exactly what a preview showed
    };
    void startWork(const Work& work, Done done);
    void preview(const Work& work, Done done);
    void finish(const ActionReport& report, const Done& done);
    std::shared_ptr<Feedback> workerStatus();
    void workDone();

    QString m_dbPath;
    QString m_journalPath;
    Workstation m_workstation;
    MessagePresenter& m_messages;
    bool m_running = false;
    bool m_ask = true;
    bool m_waiting = false;
};

} // namespace corvane
