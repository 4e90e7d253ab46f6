#pragma once

#include "agent/AgentPaths.h"
#include "sync/SyncLog.h"
#include "sync/SynchroniserSystem.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <memory>
#include <optional>

namespace corvane {

inline const QString kCallPolicySyncStatus = QStringLiteral("Call PolicySync");
inline const QString kSynchronizingStatus = QStringLiteral("Synchronizing policies...");

// One policy synchronisation at a time on the machine: starts the agent's synchroniser, or joins one already
// running, follows its log in passes until the run's last stamped line holds "[STOP]", and watches the
// synchroniser's processes for the run's real end. A start takes the machine-wide lock and is refused while
// any synchroniser runs, whoever started it (two synchronisers would write one log, and mix their counts).
// A synchroniser that fails without its end line ends the run at once; one that exits with status 0 may
// have handed its work to a child, so the log is followed while any synchroniser process lives, and until
// it has been quiet a while after the last one. Passes run off the interface thread, driven by a timer;
// the wait is bounded and the caller may abandon it. The synchroniser belongs to the agent: abandoning the
// run, or destroying this object, leaves it running to its own end.
class PolicySyncRun : public QObject {
    Q_OBJECT

public:
    struct Timing {
        int passIntervalMs = 500;
        int summaryHoldMs = 3000;       // how long the summary stays up before the run ends
        int timeoutMs = 10 * 60 * 1000; // a synchroniser that runs on without writing its end line
        int quietLogMs = 10 * 1000;     // after the last synchroniser process, without its end line
        int lockWaitMs = 3000; // a start that finds the lock taken waits this long to name the other run
    };
    enum class Outcome {
        Completed, // the end line was written
        TimedOut,  // no end line within the time-out
        Abandoned, // the caller stopped following
        Failed,    // the synchroniser could not start, or failed without its end line
        NoEndLine, // every synchroniser process ended with status 0, none wrote the end line
        Refused,   // a synchroniser runs already, or another Policy Sync is starting one
    };

    PolicySyncRun(const AgentPaths& paths, const Timing& timing, QObject* parent = nullptr);
    ~PolicySyncRun() override;

    // Starts a run: the machine-wide lock is taken, the machine searched for a running synchroniser, and
    // the log's present end taken, off the interface thread; then the synchroniser starts, or the run ends
    // as Refused, naming the synchroniser found (runningSynchroniser()). Returns false, with the reason in
    // `error` and nothing started, when the synchroniser is missing, this object runs already or the lock
    // can't be had.
    bool start(QString& error);
    // Joins the synchroniser running on the machine: follows its log from now on, to its end line or the
    // end of its last process. The run ends as Failed when none runs. False, with the reason, while running.
    bool follow(QString& error);
    // Stops following at once, as Abandoned (or Completed while the summary is up).
    void abandon();

    bool isRunning() const { return m_running; }
    // This run joined a synchroniser that was running already.
    bool joined() const { return m_joined; }
    // True while the synchroniser this object started last has not exited, whether followed or not.
    bool synchroniserRunning() const;
    // The synchroniser that a refused start found running.
    std::optional<SynchroniserProcess> runningSynchroniser() const { return m_runningSynchroniser; }
    // Since the synchroniser started, or the run joined it.
    qint64 elapsedMs() const { return m_elapsed.isValid() ? m_elapsed.elapsed() : 0; }
    const SyncTally& tally() const { return m_tally; }

signals:
    void statusChanged(const QString& text);
    // The synchroniser started, or the run joined the one running: the run's lines follow.
    void began();
    // After every pass over the log, with what it found.
    void passed(const corvane::SyncPass& pass);
    // The end line was found: the run's summary, up for summaryHoldMs before the run ends.
    void summarised(const QString& summary);
    // The run is over; `message` says why when it did not complete.
    void finished(corvane::PolicySyncRun::Outcome outcome, const QString& message);

private:
    struct Prepared;
    bool begin(bool joining, QString& error);
    void onPrepared(Prepared prepared);
    void launch();
    void step();
    struct PassResult;
    void onPass(PassResult result, bool final);
    void onSynchroniserExited(int exitCode, QProcess::ExitStatus status);
    bool exitFailed() const;
    QString exitMessage() const;
    void end(Outcome outcome, const QString& message);

    AgentPaths m_paths;
    Timing m_timing;
    PolicySyncLock m_lock;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    SyncTally m_tally;
    bool m_running = false;
    bool m_joined = false;
    bool m_holding = false;
    bool m_passInFlight = false;
    // The run follows the synchroniser's processes: it joined them, or the one it started exited with 0.
    bool m_watchingProcesses = false;
    bool m_finalPassDue = false;
    bool m_synchroniserSeen = false; // by the last search
    QElapsedTimer m_quiet;           // since a synchroniser process was last seen, or the log last changed
    std::optional<SynchroniserProcess> m_runningSynchroniser;
    // The synchroniser started last. No parent: it must not be killed with this object.
    QProcess* m_process = nullptr;
    bool m_exited = false;
    int m_exitCode = 0;
    QProcess::ExitStatus m_exitStatus = QProcess::NormalExit;
    QByteArray m_errorTail; // the end of its error output
    // Shared with the pass running off the interface thread; an answer from an earlier run is dropped.
    std::shared_ptr<SyncLogFollower> m_follower;
    quint64 m_runId = 0;
};

// Prepares `process` to start the agent's synchroniser at `path` with no arguments: minimised and without
// the focus on Windows, holding none of Corvane's standard streams (its output is dropped, its error output
// is read through a pipe), and out of reach of the signals of Corvane's terminal.
void prepareSynchroniser(QProcess& process, const QString& path);

// Lets a running synchroniser outlive its watcher: it belongs to the agent and finishes on its own.
void releaseSynchroniser(QProcess* process);

} // namespace corvane
