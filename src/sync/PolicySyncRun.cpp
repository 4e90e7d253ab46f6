#include "PolicySyncRun.h"

#include "OffThread.h"

#include <QFileInfo>

namespace corvane {

namespace {

// How much of the synchroniser's error output is kept: its last line is what the technician needs.
constexpr qsizetype kErrorTailBytes = 4096;
// A longer last line of error output is cut in the message.
constexpr qsizetype kErrorLineLimit = 300;

const QString kMissingSynchroniser = QStringLiteral("Can't find the policy synchroniser: %1");
const QString kCannotStart = QStringLiteral("Can't start the policy synchroniser %1: %2");
const QString kStillRunning =
    QStringLiteral("The policy synchroniser started by the last Policy Sync is still running. Wait until it "
                   "has finished before you start another Policy Sync.");
const QString kAbandonedRunning =
    QStringLiteral("Policy Sync abandoned: Corvane no longer follows the synchroniser's log. The policy "
                   "synchroniser itself keeps running until it finishes.");
const QString kAbandoned = QStringLiteral("Policy Sync abandoned before the synchroniser finished.");
const QString kTimedOut =
    QStringLiteral("Policy Sync gave up: the synchroniser wrote no end line in %1 seconds.");
const QString kStillRunningAfterTimeOut = QStringLiteral(" It is still running.");

// The last non-empty line of `output`, with control characters made visible.
QString lastLineOf(const QByteArray& output) {
    const QList<QByteArray> lines = output.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = QString::fromLocal8Bit(line->trimmed());
        if (text.isEmpty())
            continue;
        QString shown;
        for (const QChar c : text.left(kErrorLineLimit))
            shown += c.unicode() < 0x20 || c.unicode() == 0x7f
                         ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                         : QString(c);
        return text.size() > kErrorLineLimit ? shown + QStringLiteral("...") : shown;
    }
    return QString();
}

} // namespace

PolicySyncRun::PolicySyncRun(const AgentPaths& paths, const Timing& timing, QObject* parent)
    : QObject(parent)
    , m_paths(paths)
    , m_timing(timing) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &PolicySyncRun::step);
}

PolicySyncRun::~PolicySyncRun() {
    if (m_process)
        releaseSynchroniser(m_process);
}

bool PolicySyncRun::synchroniserRunning() const {
    return m_process && !m_exited;
}

bool PolicySyncRun::start() {
    Q_ASSERT(onInterfaceThread());
    m_error.clear();
    if (m_running || synchroniserRunning()) {
        m_error = kStillRunning;
        return false;
    }
    const QString synchroniser = m_paths.synchroniser();
    if (!QFileInfo(synchroniser).isFile()) {
        m_error = kMissingSynchroniser.arg(synchroniser);
        return false;
    }
    m_running = true;
    m_holding = false;
    m_passInFlight = false;
    m_tally = SyncTally();
    const quint64 runId = ++m_runId;
    emit statusChanged(kCallPolicySyncStatus);
    // Where the run's lines begin is taken before the synchroniser starts, so none of its lines is missed.
    runOffThread(
        this, [path = m_paths.syncLog()] { return std::make_shared<SyncLogFollower>(path); },
        [this, runId](std::shared_ptr<SyncLogFollower> follower) {
            if (!m_running || runId != m_runId)
                return;
            m_follower = std::move(follower);
            launch();
        });
    return true;
}

void PolicySyncRun::launch() {
    if (m_process)
        m_process->deleteLater();
    m_process = new QProcess;
    m_exited = false;
    m_exitCode = 0;
    m_exitStatus = QProcess::NormalExit;
    m_errorTail.clear();
    prepareSynchroniser(*m_process, m_paths.synchroniser());
    QProcess* process = m_process;
    connect(process, &QProcess::readyReadStandardError, this, [this, process] {
        m_errorTail += process->readAllStandardError();
        if (m_errorTail.size() > kErrorTailBytes)
            m_errorTail = m_errorTail.right(kErrorTailBytes);
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || process != m_process)
            return;
        m_exited = true;
        if (m_running)
            end(Outcome::Failed, kCannotStart.arg(m_paths.synchroniser(), process->errorString()));
    });
    connect(process, &QProcess::finished, this, [this, process](int exitCode, QProcess::ExitStatus status) {
        if (process == m_process)
            onSynchroniserExited(exitCode, status);
    });
    m_elapsed.start();
    m_process->start(QIODevice::ReadOnly);
    if (m_running && !m_exited) {
        emit statusChanged(kSynchronizingStatus);
        m_timer.start(0);
    }
}

void PolicySyncRun::onSynchroniserExited(int exitCode, QProcess::ExitStatus status) {
    m_errorTail += m_process->readAllStandardError();
    m_exited = true;
    m_exitCode = exitCode;
    m_exitStatus = status;
    // One more pass reads what it wrote last; a pass under way is followed by that one at once.
    if (m_running && !m_holding && !m_passInFlight)
        m_timer.start(0);
}

void PolicySyncRun::abandon() {
    if (!m_running)
        return;
    if (m_holding)
        end(Outcome::Completed, QString());
    else
        end(Outcome::Abandoned, synchroniserRunning() ? kAbandonedRunning : kAbandoned);
}

void PolicySyncRun::step() {
    if (m_holding) {
        end(Outcome::Completed, QString());
        return;
    }
    if (m_elapsed.elapsed() >= m_timing.timeoutMs) {
        end(Outcome::TimedOut, kTimedOut.arg(m_timing.timeoutMs / 1000) +
                                   (synchroniserRunning() ? kStillRunningAfterTimeOut : QString()));
        return;
    }
    // A pass may read a whole long log (one replaced mid-run): never on the interface thread.
    const bool final = m_exited;
    const quint64 runId = m_runId;
    m_passInFlight = true;
    runOffThread(
        this, [follower = m_follower, final] { return follower->pass(final); },
        [this, runId, final](SyncPass pass) {
            if (!m_running || runId != m_runId)
                return;
            m_passInFlight = false;
            onPass(std::move(pass), final);
        });
}

void PolicySyncRun::onPass(SyncPass pass, bool final) {
    const bool ended = syncEnded(pass.tally);
    if (ended && pass.unfinishedLine) { // the end line, short of its line break: the run ends with it
        pass.lines.append(*pass.unfinishedLine);
        pass.unfinishedLine.reset();
    }
    m_tally = pass.tally;
    emit passed(pass);
    if (ended) {
        m_holding = true;
        const QString summary = syncSummary(m_tally);
        emit summarised(summary);
        emit statusChanged(summary);
        m_timer.start(m_timing.summaryHoldMs);
        return;
    }
    if (final) {
        end(Outcome::Failed, exitMessage());
        return;
    }
    m_timer.start(m_exited ? 0 : m_timing.passIntervalMs);
}

QString PolicySyncRun::exitMessage() const {
    const QString how = m_exitStatus == QProcess::CrashExit
                            ? QStringLiteral("crashed")
                            : QStringLiteral("exited with status %1").arg(m_exitCode);
    const QString lastError = lastLineOf(m_errorTail);
    return QStringLiteral("The policy synchroniser %1 without writing its end line. %2")
        .arg(how, lastError.isEmpty() ? QStringLiteral("It wrote no error output.")
                                      : QStringLiteral("Its last error output: %1").arg(lastError));
}

void PolicySyncRun::end(Outcome outcome, const QString& message) {
    m_timer.stop();
    ++m_runId;
    m_running = false;
    m_holding = false;
    m_passInFlight = false;
    if (outcome != Outcome::Completed)
        emit statusChanged(message);
    emit finished(outcome, message);
}

} // namespace corvane
