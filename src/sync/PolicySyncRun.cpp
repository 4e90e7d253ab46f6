#include "sync/PolicySyncRun.h"

#include "base/OffThread.h"
#include "base/TextLines.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace corvane {

namespace {

// How much of the synchroniser's error output is kept: its last line is what the technician needs.
constexpr qsizetype kErrorTailBytes = 4096;
// A longer last line of error output is cut in the message.
constexpr qsizetype kErrorLineLimit = 300;

const QString kMissingSynchroniser = QStringLiteral("Can't find the policy synchroniser: %1");
const QString kCannotStart = QStringLiteral("Can't start the policy synchroniser %1: %2");
const QString kRunAlready = QStringLiteral("A Policy Sync is under way already.");
const QString kAlreadyRunning = QStringLiteral("A policy synchroniser is already running (%1)");
const QString kAnotherStart = QStringLiteral(
    "Another Policy Sync on this machine is starting the policy synchroniser, or finishing its "
    "run. Try again in a moment.");
const QString kNoneRunning = QStringLiteral("No policy synchroniser is running.");
const QString kAbandonedRunning =
    QStringLiteral("Policy Sync abandoned: Corvane no longer follows the synchroniser's log. The policy "
                   "synchroniser itself keeps running until it finishes.");
const QString kAbandoned = QStringLiteral("Policy Sync abandoned before the synchroniser finished.");
const QString kTimedOut =
    QStringLiteral("Policy Sync gave up: the synchroniser wrote no end line in %1 seconds.");
const QString kStillRunningAfterTimeOut = QStringLiteral(" It is still running.");
const QString kEndedWithoutEndLine = QStringLiteral("The policy synchroniser ended without its end line");

// The last non-empty line of `output`, with control characters made visible.
QString lastLineOf(const QByteArray& output) {
    const QList<QByteArray> lines = output.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        const QString text = QString::fromLocal8Bit(line->trimmed());
        if (text.isEmpty())
            continue;
        const QString shown = visibleText(text.left(kErrorLineLimit));
        return text.size() > kErrorLineLimit ? shown + QStringLiteral("...") : shown;
    }
    return QString();
}

} // namespace

// What the search before a run found: the synchronisers running, and where the run's lines begin.
struct PolicySyncRun::Prepared {
    QList<SynchroniserProcess> running;
    std::shared_ptr<SyncLogFollower> follower;
};

struct PolicySyncRun::PassResult {
    SyncPass pass;
    std::optional<QList<SynchroniserProcess>> running; // when the pass looked
};

PolicySyncRun::PolicySyncRun(const AgentPaths& paths, const Timing& timing, QObject* parent)
    : QObject(parent)
    , m_paths(paths)
    , m_timing(timing)
    , m_lock(paths) {
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

bool PolicySyncRun::start(QString& error) {
    return begin(false, error);
}

bool PolicySyncRun::follow(QString& error) {
    return begin(true, error);
}

bool PolicySyncRun::begin(bool joining, QString& error) {
    Q_ASSERT(onInterfaceThread());
    if (m_running) {
        error = kRunAlready;
        return false;
    }
    const QString synchroniser = m_paths.synchroniser();
    if (!joining && !QFileInfo(synchroniser).isFile()) {
        error = kMissingSynchroniser.arg(QDir::toNativeSeparators(synchroniser));
        return false;
    }
    // Held from the search to the end of the run: of two starts racing, one finds the other's synchroniser.
    QString lockError;
    const bool locked = !joining && m_lock.tryTake(lockError) == PolicySyncLock::Result::Taken;
    if (!lockError.isEmpty()) {
        error = lockError;
        return false;
    }
    m_running = true;
    m_joined = joining;
    m_holding = false;
    m_passInFlight = false;
    m_watchingProcesses = joining;
    m_finalPassDue = false;
    m_synchroniserSeen = joining;
    m_runningSynchroniser.reset();
    m_elapsed.invalidate();
    m_tally = SyncTally();
    const quint64 runId = ++m_runId;
    emit statusChanged(kCallPolicySyncStatus);
    // Where the run's lines begin is taken before the synchroniser starts, so none of its lines is missed.
    const int waitMs = locked || joining ? 0 : m_timing.lockWaitMs;
    runOffThread(
        this,
        [synchroniser, log = m_paths.syncLog(), waitMs] {
            Prepared prepared;
            QElapsedTimer waited;
            waited.start();
            // The start that holds the lock may not have started its synchroniser yet: it is named once
            // it runs.
            while ((prepared.running = findSynchronisers(synchroniser)).isEmpty() &&
                   waited.elapsed() < waitMs)
                QThread::msleep(50);
            prepared.follower = std::make_shared<SyncLogFollower>(log);
            return prepared;
        },
        [this, runId](Prepared prepared) {
            if (m_running && runId == m_runId)
                onPrepared(std::move(prepared));
        });
    return true;
}

void PolicySyncRun::onPrepared(Prepared prepared) {
    if (m_joined) {
        if (prepared.running.isEmpty()) {
            end(Outcome::Failed, kNoneRunning);
            return;
        }
        m_follower = std::move(prepared.follower);
        m_elapsed.start();
        m_quiet.start();
        emit statusChanged(kSynchronizingStatus);
        emit began();
        m_timer.start(0);
        return;
    }
    if (!prepared.running.isEmpty()) {
        m_runningSynchroniser = prepared.running.first();
        end(Outcome::Refused, kAlreadyRunning.arg(describeSynchroniser(*m_runningSynchroniser)));
        return;
    }
    if (!m_lock.isTaken()) {
        end(Outcome::Refused, kAnotherStart);
        return;
    }
    m_follower = std::move(prepared.follower);
    launch();
}

void PolicySyncRun::launch() {
    if (m_process)
        releaseSynchroniser(m_process); // one that still runs is never killed
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
        if (!m_running)
            return;
        const QString reason = startFailureReason(m_paths.synchroniser());
        end(Outcome::Failed, kCannotStart.arg(QDir::toNativeSeparators(m_paths.synchroniser()),
                                              reason.isEmpty() ? process->errorString() : reason));
    });
    connect(process, &QProcess::finished, this, [this, process](int exitCode, QProcess::ExitStatus status) {
        if (process == m_process)
            onSynchroniserExited(exitCode, status);
    });
    m_elapsed.start();
    m_process->start(QIODevice::ReadOnly);
    if (m_running && !m_exited) {
        emit statusChanged(kSynchronizingStatus);
        emit began();
        m_timer.start(0);
    }
}

bool PolicySyncRun::exitFailed() const {
    return m_exitStatus == QProcess::CrashExit || m_exitCode != 0;
}

void PolicySyncRun::onSynchroniserExited(int exitCode, QProcess::ExitStatus status) {
    m_errorTail += m_process->readAllStandardError();
    m_exited = true;
    m_exitCode = exitCode;
    m_exitStatus = status;
    if (!m_running || m_holding)
        return;
    if (!exitFailed()) {
        // It may have handed its work to a child: followed while any synchroniser process lives.
        m_watchingProcesses = true;
        m_quiet.start();
    }
    // One more pass reads what it wrote last; a pass under way is followed by that one at once.
    if (!m_passInFlight)
        m_timer.start(0);
}

void PolicySyncRun::abandon() {
    if (!m_running)
        return;
    if (m_holding)
        end(Outcome::Completed, QString());
    else
        end(Outcome::Abandoned, synchroniserRunning() || m_joined ? kAbandonedRunning : kAbandoned);
}

void PolicySyncRun::step() {
    if (m_holding) {
        end(Outcome::Completed, QString());
        return;
    }
    if (m_elapsed.elapsed() >= m_timing.timeoutMs) {
        const bool stillRunning = synchroniserRunning() || (m_watchingProcesses && m_synchroniserSeen);
        end(Outcome::TimedOut, kTimedOut.arg(m_timing.timeoutMs / 1000) +
                                   (stillRunning ? kStillRunningAfterTimeOut : QString()));
        return;
    }
    // A pass may read a whole long log (one replaced mid-run): never on the interface thread. Nor is the
    // machine searched for synchronisers there.
    const bool final = m_finalPassDue || (m_exited && exitFailed() && !m_watchingProcesses);
    const bool search = m_watchingProcesses && !final;
    const quint64 runId = m_runId;
    m_passInFlight = true;
    runOffThread(
        this,
        [follower = m_follower, final, search, synchroniser = m_paths.synchroniser()] {
            PassResult result;
            // Searched first: a synchroniser that ends after the search has written its lines before the
            // next pass.
            if (search)
                result.running = findSynchronisers(synchroniser);
            result.pass = follower->pass(final);
            return result;
        },
        [this, runId, final](PassResult result) {
            if (!m_running || runId != m_runId)
                return;
            m_passInFlight = false;
            onPass(std::move(result), final);
        });
}

void PolicySyncRun::onPass(PassResult result, bool final) {
    SyncPass& pass = result.pass;
    const bool ended = syncEnded(pass.tally);
    if (ended && pass.unfinishedLine) { // the end line, short of its line break: the run ends with it
        pass.lines.append(*pass.unfinishedLine);
        pass.unfinishedLine.reset();
    }
    m_tally = pass.tally;
    emit passed(pass);
    if (ended) {
        m_holding = true;
        const QString summary = syncSummary(m_tally, m_joined);
        emit summarised(summary);
        emit statusChanged(summary);
        m_timer.start(m_timing.summaryHoldMs);
        return;
    }
    if (final) {
        if (m_watchingProcesses)
            end(Outcome::NoEndLine,
                kEndedWithoutEndLine + QStringLiteral(". ") + syncSummary(m_tally, m_joined));
        else
            end(Outcome::Failed, exitMessage());
        return;
    }
    if (result.running)
        m_synchroniserSeen = !result.running->isEmpty();
    if (m_watchingProcesses) {
        if (pass.logChanged || m_synchroniserSeen)
            m_quiet.start();
        else if (m_quiet.elapsed() >= m_timing.quietLogMs)
            m_finalPassDue = true;
    }
    const bool passDue = m_finalPassDue || (m_exited && exitFailed() && !m_watchingProcesses);
    m_timer.start(passDue ? 0 : m_timing.passIntervalMs);
}

QString PolicySyncRun::exitMessage() const {
    const QString lastError = lastLineOf(m_errorTail);
    const QString output = lastError.isEmpty() ? QStringLiteral("It wrote no error output.")
                                               : QStringLiteral("Its last error output: %1").arg(lastError);
    const QString systemStatus = systemExitStatus(m_exitCode, m_exitStatus == QProcess::CrashExit);
    if (!systemStatus.isEmpty())
        return QStringLiteral("The policy synchroniser ended with %1 without writing its end line. %2")
            .arg(systemStatus, output);
    const QString how = m_exitStatus == QProcess::CrashExit
                            ? QStringLiteral("crashed")
                            : QStringLiteral("exited with status %1").arg(m_exitCode);
    return QStringLiteral("The policy synchroniser %1 without writing its end line. %2").arg(how, output);
}

void PolicySyncRun::end(Outcome outcome, const QString& message) {
    m_timer.stop();
    ++m_runId;
    m_running = false;
    m_holding = false;
    m_passInFlight = false;
    m_lock.release();
    if (outcome != Outcome::Completed)
        emit statusChanged(message);
    emit finished(outcome, message);
}

} // namespace corvane
