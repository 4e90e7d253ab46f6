#include "session/ActionRunner.h"

#include "actions/Undo.h"
#include "agent/WorkstationShare.h"
#include "base/OffThread.h"
#include "session/MessagePresenter.h"
#include "session/RelayedFeedback.h"

namespace corvane {

ActionRunner::ActionRunner(const AgentPaths& paths, MessagePresenter& messages, QObject* parent)
    : QObject(parent)
    , m_dbPath(paths.database())
    , m_journalPath(paths.journal())
    , m_messages(messages) {}

namespace {

// A remote action that left tasks unchanged while the share no longer answers: the lost connection is the
// reason those tasks give, whatever the database or the journal said of it.
ActionReport withShareLoss(ActionReport report, const Workstation& workstation) {
    if (!workstation.remote || report.allChanged())
        return report;
    QString lost;
    if (shareAnswers(workstation.root, lost))
        return report;
    for (TaskOutcome& task : report.tasks) {
        if (task.kind != TaskOutcome::Kind::Refused && task.kind != TaskOutcome::Kind::NotChanged)
            continue;
        task.kind = TaskOutcome::Kind::NotChanged;
        task.unread = false;
        task.reason =
            QStringLiteral("Task %1%2 was not changed: %3")
                .arg(task.taskId,
                     task.packageName.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(task.packageName),
                     lost);
    }
    return report;
}

} // namespace

void ActionRunner::setPaths(const AgentPaths& paths) {
    m_dbPath = paths.database();
    m_journalPath = paths.journal();
}

void ActionRunner::setAskBeforeChanging(bool ask) {
    if (ask == m_ask)
        return;
    m_ask = ask;
    emit askBeforeChangingChanged(ask);
}

void ActionRunner::start(TaskAction action, const QList<ActionTarget>& targets, Done done) {
    const QString dbPath = m_dbPath;
    const QString journal = m_journalPath;
    const Workstation ws = m_workstation;
    startWork({[=](Feedback* status) { return planAction(action, targets, dbPath, status); },
               [=](Feedback& status) {
                   return withShareLoss(runAction(action, targets, dbPath, journal, status), ws);
               },
               [=](const ActionReport& preview, Feedback& status) {
                   return withShareLoss(applyPreview(preview, dbPath, journal, status), ws);
               }},
              std::move(done));
}

void ActionRunner::startUndo(const QList<qint64>& entries, Done done) {
    const QString dbPath = m_dbPath;
    const QString journal = m_journalPath;
    const Workstation ws = m_workstation;
    startWork({[=](Feedback* status) { return planUndo(entries, dbPath, journal, status); },
               [=](Feedback& status) { return withShareLoss(runUndo(entries, dbPath, journal, status), ws); },
               [=](const ActionReport& preview, Feedback& status) {
                   return withShareLoss(applyUndoPreview(preview, dbPath, journal, status), ws);
               }},
              std::move(done));
}

void ActionRunner::startWork(const Work& work, Done done) {
    Q_ASSERT(!m_running);
    m_running = true;
    if (!m_ask) {
        auto status = workerStatus();
        runOffThread(
            this, [work, status] { return work.run(*status); },
            [this, done = std::move(done)](const ActionReport& report) { finish(report, done); });
        return;
    }
    preview(work, std::move(done));
}

std::shared_ptr<Feedback> ActionRunner::workerStatus() {
    return std::make_shared<RelayedFeedback>(this, [this](const QString& text) {
        // A wait for the agent's lock is said until the work is done.
        if (text == kWaitingForDatabaseStatus && !m_waiting) {
            m_waiting = true;
            emit waitingForDatabase(true);
        }
        emit statusChanged(text);
    });
}

void ActionRunner::workDone() {
    if (m_waiting) {
        m_waiting = false;
        emit waitingForDatabase(false);
        emit statusChanged(QString());
    }
}

void ActionRunner::preview(const Work& work, Done done) {
    auto status = workerStatus();
    runOffThread(
        this, [work, status] { return work.plan(status.get()); },
        [this, work, done = std::move(done)](ActionReport preview) {
            workDone();
            if (m_workstation.remote)
                preview.workstation = m_workstation.name;
            const MessagePresenter::PreviewAnswer answer = m_messages.confirmAction(preview);
            if (answer.retry) {
                this->preview(work, done);
                return;
            }
            if (!answer.accepted) {
                m_running = false;
                done(std::nullopt);
                return;
            }
            if (answer.dontAskAgain)
                setAskBeforeChanging(false);
            auto status = workerStatus();
            runOffThread(
                this, [work, preview, status] { return work.apply(preview, *status); },
                [this, done](const ActionReport& report) { finish(report, done); });
        });
}

void ActionRunner::finish(const ActionReport& report, const Done& done) {
    workDone();
    m_running = false;
    done(report);
}

} // namespace corvane
