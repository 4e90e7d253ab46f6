#pragma once

#include "AgentPaths.h"
#include "SyncLog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTimer>

#include <memory>

namespace corvane {

inline const QString kCallPolicySyncStatus = QStringLiteral("Call PolicySync");
inline const QString kSynchronizingStatus = QStringLiteral("Synchronizing policies...");

// One policy synchronisation at a time: starts the agent's synchroniser, follows its log in passes until the
// run's last stamped line holds "[STOP]", and watches the process it started, so that a synchroniser that
// exits without that line ends the run at once. Passes run off the interface thread, driven by a timer; the
// wait is bounded and the caller may abandon it. The synchroniser belongs to the agent: abandoning the run,
// or destroying this object, leaves it running to its own end.
class PolicySyncRun : public QObject {
    Q_OBJECT

public:
    struct Timing {
        int passIntervalMs = 500;
        int summaryHoldMs = 3000;       // how long the summary stays up before the run ends
        int timeoutMs = 10 * 60 * 1000; // a synchroniser that runs on without writing its end line
    };
    enum class Outcome {
        Completed, // the end line was written
        TimedOut,  // no end line within the time-out
        Abandoned, // the caller stopped following
        Failed,    // the synchroniser could not start, or exited without its end line
    };

    PolicySyncRun(const AgentPaths& paths, const Timing& timing, QObject* parent = nullptr);
    ~PolicySyncRun() override;

    // Starts a run; the synchroniser starts once the log's present end is taken, off the interface thread.
    // Returns false, with error() set and nothing started, when the synchroniser is missing or the one this
    // object started last is still running (two synchronisers would write one log, and mix their counts).
    bool start();
    // Stops following at once, as Abandoned (or Completed while the summary is up).
    void abandon();

    bool isRunning() const { return m_running; }
    // True while the synchroniser this object started last has not exited, whether followed or not.
    bool synchroniserRunning() const;
    QString error() const { return m_error; }
    const SyncTally& tally() const { return m_tally; }

signals:
    void statusChanged(const QString& text);
    // After every pass over the log, with what it found.
    void passed(const corvane::SyncPass& pass);
    // The end line was found: the run's summary, up for summaryHoldMs before the run ends.
    void summarised(const QString& summary);
    // The run is over; `message` says why when it did not complete.
    void finished(corvane::PolicySyncRun::Outcome outcome, const QString& message);

private:
    void launch();
    void step();
    void onPass(SyncPass pass, bool final);
    void onSynchroniserExited(int exitCode, QProcess::ExitStatus status);
    QString exitMessage() const;
    void end(Outcome outcome, const QString& message);

    AgentPaths m_paths;
    Timing m_timing;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    SyncTally m_tally;
    QString m_error;
    bool m_running = false;
    bool m_holding = false;
    bool m_passInFlight = false;
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
