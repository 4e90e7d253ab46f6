#pragma once

#include "AgentPaths.h"
#include "SyncLog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

namespace corvane {

inline const QString kCallPolicySyncStatus = QStringLiteral("Call PolicySync");
inline const QString kSynchronizingStatus = QStringLiteral("Synchronizing policies...");

// One policy synchronisation: starts the agent's synchroniser and follows its log in passes until the
// log's last stamped line is a "[STOP]" line written after the run began. Passes are driven by a timer, so
// the caller's event loop keeps running; the wait is bounded and the caller may abandon it.
class PolicySyncRun : public QObject {
    Q_OBJECT

public:
    struct Timing {
        int passIntervalMs = 500;
        int summaryHoldMs = 3000;       // how long the summary stays up before the run ends
        int timeoutMs = 10 * 60 * 1000; // a synchroniser that never writes its end line
    };
    enum class Outcome { Completed, TimedOut, Abandoned };

    PolicySyncRun(const AgentPaths& paths, const Timing& timing, QObject* parent = nullptr);

    // Takes the marker and starts the synchroniser. Returns false, with error() set and nothing running,
    // when it is missing or cannot be started. The first pass follows from the event loop.
    bool start();
    // Ends a run in progress at once, as Abandoned.
    void abandon();

    bool isRunning() const { return m_running; }
    QString error() const { return m_error; }
    QString markerLine() const { return m_markerLine; }
    const SyncPass& lastPass() const { return m_lastPass; }

signals:
    void statusChanged(const QString& text);
    // After every pass over the log, with what it found.
    void passed(const corvane::SyncPass& pass);
    // The run is over; `message` says why when it did not complete.
    void finished(corvane::PolicySyncRun::Outcome outcome, const QString& message);

private:
    void step();
    void onPass(const SyncPass& pass);
    void end(Outcome outcome, const QString& message);

    AgentPaths m_paths;
    Timing m_timing;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    QString m_markerLine;
    QString m_currentLine;
    SyncPass m_lastPass;
    QString m_error;
    bool m_running = false;
    bool m_holding = false;
    // Passes run on a worker thread, one at a time; an answer from an earlier run is dropped.
    std::shared_ptr<SyncLogFollower> m_follower;
    quint64 m_runId = 0;
};

// Starts the synchroniser at `path` with no arguments, minimised and without the focus, not waiting for it.
bool startSynchroniser(const QString& path, QString& error);

} // namespace corvane
