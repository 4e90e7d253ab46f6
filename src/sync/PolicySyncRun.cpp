#include "PolicySyncRun.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

namespace corvane {

PolicySyncRun::PolicySyncRun(const AgentPaths& paths, const Timing& timing, QObject* parent)
    : QObject(parent)
    , m_paths(paths)
    , m_timing(timing) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PolicySyncRun::step);
}

bool PolicySyncRun::start() {
    if (m_running)
        return false;
    m_error.clear();
    m_currentLine.clear();
    m_lastPass = SyncPass();
    emit statusChanged(kCallPolicySyncStatus);
    // The marker is taken before the synchroniser starts, so its own lines never become the marker.
    m_markerLine = lastStampedLine(m_paths.syncLog());
    if (!startSynchroniser(m_paths.synchroniser(), m_error))
        return false;
    m_running = true;
    m_holding = false;
    ++m_runId;
    m_follower = std::make_shared<SyncLogFollower>(m_markerLine);
    m_elapsed.start();
    emit statusChanged(kSynchronizingStatus);
    m_timer.start(0);
    return true;
}

void PolicySyncRun::abandon() {
    if (m_running)
        end(m_holding ? Outcome::Completed : Outcome::Abandoned,
            m_holding ? QString()
                      : QStringLiteral("Policy Sync abandoned before the synchroniser finished."));
}

void PolicySyncRun::step() {
    if (m_holding) {
        end(Outcome::Completed, QString());
        return;
    }
    if (syncEnded(m_currentLine, m_markerLine)) {
        m_holding = true;
        emit statusChanged(syncSummary(m_lastPass.policyCount, m_lastPass.xmlCount));
        m_timer.start(m_timing.summaryHoldMs);
        return;
    }
    if (m_elapsed.elapsed() >= m_timing.timeoutMs) {
        end(Outcome::TimedOut,
            QStringLiteral("Policy Sync gave up: the synchroniser wrote no end line in %1 seconds.")
                .arg(m_timing.timeoutMs / 1000));
        return;
    }
    // The first pass reads the whole log, which may be long: no pass runs on the interface thread.
    QPointer<PolicySyncRun> self(this);
    const quint64 runId = m_runId;
    std::shared_ptr<SyncLogFollower> follower = m_follower;
    const QString path = m_paths.syncLog();
    QThreadPool::globalInstance()->start([self, runId, follower, path] {
        const SyncPass pass = follower->pass(path);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, runId, pass] {
                if (self && self->m_running && self->m_runId == runId)
                    self->onPass(pass);
            },
            Qt::QueuedConnection);
    });
}

void PolicySyncRun::onPass(const SyncPass& pass) {
    m_lastPass = pass;
    if (m_lastPass.lastStamped)
        m_currentLine = *m_lastPass.lastStamped;
    emit passed(m_lastPass);
    m_timer.start(m_timing.passIntervalMs);
}

void PolicySyncRun::end(Outcome outcome, const QString& message) {
    m_timer.stop();
    ++m_runId;
    m_running = false;
    m_holding = false;
    if (outcome != Outcome::Completed)
        emit statusChanged(message);
    emit finished(outcome, message);
}

} // namespace corvane
