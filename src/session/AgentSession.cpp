#include "session/AgentSession.h"

#include "agent/ClientDatabase.h"
#include "agent/InvokerLog.h"
#include "agent/WorkstationShare.h"
#include "base/Clock.h"
#include "base/OffThread.h"
#include "session/ActionRunner.h"
#include "session/InvokerLogWatch.h"
#include "session/MessagePresenter.h"
#include "session/TaskListRefresh.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <utility>

namespace corvane {

namespace {

const QString kTitle = QStringLiteral("Corvane");
const QString kNothingToUndoStatus =
    QStringLiteral("Nothing to undo: this window has changed nothing since it opened");
const QString kReadOnlyStatus = QStringLiteral(
    "Read only: turn on \"Allow changes over the network\" to change this workstation's agent");

// What a look at a remote share found.
struct ShareLook {
    bool answered = false;
    QString error;
    AgentPaths paths;
};

} // namespace

// A message is open for as long as the scope lives: no rebuild under it, the list would change while the
// technician reads.
class AgentSession::MessageScope {
public:
    explicit MessageScope(AgentSession& session)
        : m_session(session) {
        ++m_session.m_messagesOpen;
    }
    ~MessageScope() { --m_session.m_messagesOpen; }
    MessageScope(const MessageScope&) = delete;
    MessageScope& operator=(const MessageScope&) = delete;

private:
    AgentSession& m_session;
};

AgentSession::AgentSession(const AgentPaths& paths, MessagePresenter& messages, const Clock& clock,
                           QObject* parent)
    : QObject(parent)
    , m_paths(paths)
    , m_messages(messages)
    , m_clock(clock)
    , m_refresh(new TaskListRefresh(paths, clock, this))
    , m_logWatch(new InvokerLogWatch(paths.invokerLog(), clock, this))
    , m_actions(new ActionRunner(paths, messages, this)) {
    // A sync owns the status line while it runs; the list goes on being read beside it.
    connect(m_refresh, &TaskListRefresh::statusChanged, this, [this](const QString& text) {
        if (!m_syncRunning)
            emit statusChanged(text);
    });
    connect(m_refresh, &TaskListRefresh::rowsRead, this, &AgentSession::rowsRead);
    connect(m_refresh, &TaskListRefresh::databaseMissingChanged, this,
            &AgentSession::onDatabaseMissingChanged);
    connect(m_refresh, &TaskListRefresh::noticeChanged, this,
            [this](const QString& text) { emit noticeChanged(Notice::TaskList, text); });
    connect(m_refresh, &TaskListRefresh::readEnded, this, &AgentSession::onTaskListRead);
    connect(m_logWatch, &InvokerLogWatch::updated, this, &AgentSession::onLogUpdate);
    connect(m_actions, &ActionRunner::statusChanged, this, &AgentSession::statusChanged);
    connect(m_actions, &ActionRunner::waitingForDatabase, this, &AgentSession::waitingForDatabase);
    connect(m_actions, &ActionRunner::askBeforeChangingChanged, this,
            &AgentSession::askBeforeChangingChanged);
}

AgentSession::AgentSession(const Workstation& workstation, MessagePresenter& messages, const Clock& clock,
                           QObject* parent)
    : AgentSession(workstation.remote ? AgentPaths::withoutLooking(workstation.root)
                                      : AgentPaths(workstation.root),
                   messages, clock, parent) {
    m_workstation = workstation;
    if (!isRemote())
        return;
    // Nothing of a share that hangs may hold the threads the other workstations and the window share. Given
    // to the session's parent when it has one: what the window opens for this workstation reads there too.
    new OwnWorkerThreads(parent ? parent : this);
    m_logWatch->setAlwaysOffThread(true);
    m_actions->setWorkstation(workstation);
    m_shareDeadline = new QTimer(this);
    m_shareDeadline->setSingleShot(true);
    connect(m_shareDeadline, &QTimer::timeout, this, &AgentSession::onShareDeadline);
    m_shownControls = controls();
}

AgentSession::~AgentSession() = default;

SessionFacts AgentSession::facts() const {
    return {m_databaseMissing,  m_syncRunning, m_actionRunning,
            m_messagesOpen > 0, isRemote(),    m_changesAllowed};
}

void AgentSession::updateControls() {
    const ControlState now = controls();
    if (now == m_shownControls)
        return;
    m_shownControls = now;
    emit controlsChanged(now);
}

void AgentSession::tell(const QString& text) {
    MessageScope open(*this);
    m_messages.show(text, kTitle, MessagePresenter::Icon::None);
}

void AgentSession::refresh() {
    if (!isRemote()) {
        m_refresh->start();
        return;
    }
    if (m_looking)
        m_readAfterLook = true;
    else
        lookAtShare(true);
}

// Each read of a remote workstation begins with a look at its share, off the interface thread: whether it
// answers, and where its agent's program folder is. What waits on the share is watched by the deadline.
void AgentSession::lookAtShare(bool thenRead) {
    m_looking = true;
    m_readAfterLook = m_readAfterLook || thenRead;
    m_shareDeadline->start(m_shareDeadlineMs);
    runOffThread(
        this,
        [root = m_workstation.root] {
            ShareLook look;
            look.answered = shareAnswers(root, look.error);
            if (look.answered)
                look.paths = AgentPaths(root);
            return look;
        },
        [this](ShareLook look) {
            m_looking = false;
            const bool read = std::exchange(m_readAfterLook, false);
            if (!look.answered) {
                m_shareDeadline->stop();
                setShareProblem(look.error);
                emit logReadFailed(); // the log box stops waiting: the notice says why
                emit taskListRead();  // the last list stays, the notice says why
                return;
            }
            setShareProblem(QString());
            if (look.paths.invokerLog() != m_paths.invokerLog() ||
                look.paths.database() != m_paths.database()) {
                look.paths.setJournal(m_paths.journal());
                m_paths = look.paths;
                m_refresh->setPaths(m_paths);
                m_logWatch->setPath(m_paths.invokerLog());
                m_actions->setPaths(m_paths);
                emit pathsChanged();
            }
            if (read && controls().listMayRebuild)
                m_refresh->start(); // the deadline goes on watching
            else
                m_shareDeadline->stop();
            if (!m_logDay.isValid())
                m_logWatch->check();
        });
}

void AgentSession::onShareDeadline() {
    if (!m_looking && !m_refresh->isReading())
        return;
    setShareProblem(shareDidNotAnswer(m_workstation.root, m_shareDeadlineMs));
}

void AgentSession::setShareProblem(const QString& problem) {
    if (problem == m_shareProblem)
        return;
    m_shareProblem = problem;
    emit noticeChanged(Notice::Workstation, problem);
}

void AgentSession::setChangesAllowed(bool allowed) {
    allowed = allowed && isRemote();
    if (allowed == m_changesAllowed)
        return;
    m_changesAllowed = allowed;
    updateControls();
    emit changesAllowedChanged(allowed);
}

// A remote workstation is not changed until the technician allows it.
bool AgentSession::refuseChange() {
    if (!isRemote() || m_changesAllowed)
        return false;
    emit statusChanged(kReadOnlyStatus);
    return true;
}

void AgentSession::tick() {
    if (isRemote()) {
        // A share that has not answered the last look or read is not asked again meanwhile.
        if (m_looking || m_refresh->isReading())
            return;
        lookAtShare(controls().listMayRebuild && (m_auto || m_databaseMissing));
        return;
    }
    // A 32-bit agent may be moved to its other program folder while the window is open.
    if (!m_syncRunning && !m_actionRunning && m_paths.relocate()) {
        m_refresh->setPaths(m_paths);
        m_logWatch->setPath(m_paths.invokerLog());
        delete std::exchange(m_sync, nullptr); // made again on the next sync, with the new paths
        emit pathsChanged();
    }
    // A tick that comes while the agent is still being read is skipped. A sync does not stop it: the list
    // shows what the synchroniser adds as it goes.
    if (controls().listMayRebuild && !m_refresh->isReading() && (m_auto || m_refresh->isDatabaseBack()))
        refresh();
    if (!m_logDay.isValid())
        m_logWatch->check();
}

void AgentSession::setAutoRefresh(bool on) {
    on = on && !m_databaseMissing;
    if (on == m_auto)
        return;
    m_auto = on;
    emit autoRefreshChanged(on);
}

CheckOutcome AgentSession::tickRow(TaskRow::Tag tag, bool nowChecked) {
    const CheckOutcome outcome = applyCheckRule(tag, nowChecked);
    if (outcome.autoOff)
        setAutoRefresh(false);
    return outcome;
}

const TaskTable& AgentSession::table() const {
    return m_refresh->table();
}

QDateTime AgentSession::readAt() const {
    return m_refresh->readAt();
}

bool AgentSession::isReading() const {
    return m_looking || m_refresh->isReading();
}

void AgentSession::onTaskListRead() {
    if (m_shareDeadline) {
        m_shareDeadline->stop();
        setShareProblem(QString()); // the share answered after all
    }
    if (!m_actionSummary.isEmpty())
        emit statusChanged(std::exchange(m_actionSummary, QString()));
    if (!m_logDay.isValid())
        m_logWatch->check();
    emit taskListRead();
}

// What a missing database disables comes back with it, and so does "Auto".
void AgentSession::onDatabaseMissingChanged(bool missing) {
    m_databaseMissing = missing;
    m_auto = !missing;
    emit autoRefreshChanged(m_auto);
    updateControls();
    if (missing)
        showDatabaseMissing();
}

void AgentSession::showDatabaseMissing() {
    MessageScope open(*this);
    m_messages.show(kDatabaseMissingMessage + m_paths.database(), QStringLiteral("Error"),
                    MessagePresenter::Icon::Critical);
}

void AgentSession::onLogUpdate(const InvokerLogUpdate& update) {
    if (update.kind == InvokerLogUpdate::Kind::Replaced && update.status == AgentFileStatus::Unreadable) {
        emit logReadFailed();
        emit noticeChanged(Notice::InvokerLog, QStringLiteral("Can't read the invoker log: ") + update.error);
        return;
    }
    emit logUpdated(update);
    if (isRemote())
        return; // the look at its share says what is missing, off the interface thread
    // The log's folder is the agent's program folder: without it the agent is not (or no longer) installed.
    const QString folder = QFileInfo(m_paths.invokerLog()).absolutePath();
    const bool folderMissing = update.status == AgentFileStatus::Missing && !QFileInfo(folder).isDir();
    emit noticeChanged(Notice::InvokerLog, folderMissing ? QStringLiteral("Can't find the agent's folder ") +
                                                               QDir::toNativeSeparators(folder)
                                                         : QString());
}

void AgentSession::showLogDay(const QDate& day) {
    const QDate shown = day == m_clock.today() ? QDate() : day;
    if (shown == m_logDay)
        return;
    m_logDay = shown;
    emit logDayChanged(m_logDay);
    if (!m_logDay.isValid()) {
        m_logWatch->setPath(m_paths.invokerLog()); // today's part afresh
        m_logWatch->check();
        return;
    }
    runOffThread(
        this,
        [path = m_paths.invokerLog(), day] {
            InvokerLogUpdate update;
            update.kind = InvokerLogUpdate::Kind::Replaced;
            QStringList lines;
            update.status = readInvokerLogDay(path, day, lines, update.error);
            update.partLines = lines.size();
            if (lines.size() > kLogBoxLines) {
                lines = lines.mid(lines.size() - kLogBoxLines);
                update.truncatedFront = true;
            }
            update.lines = LogLines::fromList(lines);
            return update;
        },
        [this, day](const InvokerLogUpdate& update) {
            if (day == m_logDay) // else the technician chose another day meanwhile
                onLogUpdate(update);
        });
}

bool AgentSession::isActing() const {
    return m_actions->isRunning();
}

bool AgentSession::askBeforeChanging() const {
    return m_actions->askBeforeChanging();
}

void AgentSession::setAskBeforeChanging(bool ask) {
    m_actions->setAskBeforeChanging(ask);
}

// The checked tasks are taken from the table the rows were built from; the action then decides on what the
// database holds at that moment, off the interface thread.
void AgentSession::act(TaskAction action, const QList<CheckedRow>& checked,
                       const std::function<void()>& onCancel) {
    if (m_actions->isRunning() || refuseChange())
        return;
    m_refresh->dropRunningRead(); // its rows would replace the ones being acted on
    const QList<ActionTarget> targets = checkedTargets(checked, m_refresh->table());
    if (targets.isEmpty()) {
        {
            MessageScope open(*this);
            tell(kNothingCheckedMessage);
            setAutoRefresh(true);
        }
        // Nothing can be checked without the database; say why rather than leave the technician guessing.
        if (m_databaseMissing)
            showDatabaseMissing();
        refresh();
        return;
    }
    m_actionRunning = true; // no rebuild until the action is over: its rows keep their checks if cancelled
    updateControls();
    m_actions->start(action, targets, [this, onCancel](const std::optional<ActionReport>& report) {
        m_actionRunning = false;
        updateControls();
        if (report)
            onActionDone(*report);
        else if (onCancel)
            onCancel();
    });
}

void AgentSession::undo(const QList<qint64>& entries) {
    if (m_actions->isRunning() || entries.isEmpty() || refuseChange())
        return;
    m_refresh->dropRunningRead();
    m_actionRunning = true;
    updateControls();
    m_actions->startUndo(entries, [this](const std::optional<ActionReport>& report) {
        m_actionRunning = false;
        updateControls();
        if (report)
            onActionDone(*report);
    });
}

void AgentSession::undoLast() {
    if (m_lastChanges.isEmpty())
        emit statusChanged(kNothingToUndoStatus);
    else
        undo(m_lastChanges);
}

void AgentSession::onActionDone(const ActionReport& report) {
    {
        MessageScope open(*this);
        // The action is done with the ticks once it changed something; when it changed nothing they stay,
        // for another try. Other rebuilds keep them.
        emit actionEnded(report, report.count(TaskOutcome::Kind::Change) > 0);
        if (!report.problems().isEmpty())
            tell(report.problems());
        setAutoRefresh(true);
    }
    // Shown once the list shows the agent's state after the action, so the read's progress does not wipe it.
    // An action's changes can be taken back; an Undo's cannot.
    m_actionSummary = report.summary();
    if (report.action != TaskAction::Undo) {
        m_lastChanges = report.journalEntries();
        if (!m_lastChanges.isEmpty())
            m_actionSummary += QStringLiteral(". Ctrl+Z undoes it");
    } else {
        m_lastChanges.clear();
    }
    refresh();
}

void AgentSession::createSync() {
    m_sync = new PolicySyncRun(m_paths, m_syncTiming, this);
    connect(m_sync, &PolicySyncRun::statusChanged, this, &AgentSession::statusChanged);
    connect(m_sync, &PolicySyncRun::began, this, [this] { emit syncBegan(m_sync->elapsedMs()); });
    connect(m_sync, &PolicySyncRun::passed, this, &AgentSession::syncPassed);
    connect(m_sync, &PolicySyncRun::summarised, this, &AgentSession::syncSummarised);
    connect(m_sync, &PolicySyncRun::finished, this, &AgentSession::onSyncFinished);
}

void AgentSession::startSync(bool follow) {
    if (isRemote()) {
        emit statusChanged(remotePolicySyncReason());
        return;
    }
    if (m_syncRunning)
        return;
    m_syncRunning = true;
    updateControls();
    if (!m_sync)
        createSync();
    m_refresh->dropRunningRead(); // the sync owns the status line
    QString error;
    if (!(follow ? m_sync->follow(error) : m_sync->start(error))) {
        m_syncRunning = false;
        emit statusChanged(QString());
        tell(error);
        updateControls();
        return;
    }
    emit syncStarted(); // Cancel from the start: the search before the start may wait on another's
}

void AgentSession::cancelSync() {
    if (m_sync)
        m_sync->abandon();
}

qint64 AgentSession::syncElapsedMs() const {
    return m_sync ? m_sync->elapsedMs() : 0;
}

void AgentSession::onSyncFinished(PolicySyncRun::Outcome outcome, const QString& message) {
    m_syncRunning = false;
    emit syncEnded(outcome == PolicySyncRun::Outcome::Abandoned);
    updateControls();
    if (outcome == PolicySyncRun::Outcome::Refused) {
        // Nothing started, nothing changed: the list and its checks stay; the running one may be followed.
        emit statusChanged(QString());
        bool follow = false;
        {
            MessageScope open(*this);
            if (m_sync->runningSynchroniser())
                follow = m_messages.offer(message, kTitle, QStringLiteral("Follow"));
            else
                m_messages.show(message, kTitle, MessagePresenter::Icon::None);
        }
        if (follow)
            startSync(true);
        return;
    }
    if (outcome != PolicySyncRun::Outcome::Completed)
        tell(message);
    setAutoRefresh(true);
    refresh();
}

void AgentSession::shutdown() {
    if (m_sync && m_sync->isRunning()) {
        disconnect(m_sync, nullptr, this, nullptr); // no message and no read on the way out
        m_sync->abandon();                          // the synchroniser runs on: it belongs to the agent
    }
}

} // namespace corvane
