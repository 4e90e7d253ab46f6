#include "ui/ActionRunner.h"

#include "actions/Undo.h"
#include "base/OffThread.h"
#include "tasklist/Feedback.h"
#include "ui/MessagePresenter.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QPointer>
#include <QSettings>

namespace corvane {

namespace {

const QString kAskSetting = QStringLiteral("actions/askBeforeChanging");

// Hands the status texts of work off the interface thread to `show` on the interface thread, in order, for
// as long as `receiver` lives.
class PostedStatus : public Feedback {
public:
    PostedStatus(QObject* receiver, std::function<void(const QString&)> show)
        : m_receiver(receiver)
        , m_show(std::move(show)) {}
    void setStatus(const QString& text) override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [receiver = m_receiver, show = m_show, text] {
                if (receiver)
                    show(text);
            },
            Qt::QueuedConnection);
    }
    void showMessage(const QString&) override {} // the action reports in its result, not by messages

private:
    QPointer<QObject> m_receiver;
    std::function<void(const QString&)> m_show;
};

} // namespace

ActionRunner::ActionRunner(const AgentPaths& paths, MessagePresenter& messages, Feedback& status,
                           QObject* parent)
    : QObject(parent)
    , m_dbPath(paths.database())
    , m_journalPath(paths.journal())
    , m_messages(messages)
    , m_status(status) {}

bool ActionRunner::askBeforeChanging() {
    return QSettings().value(kAskSetting, true).toBool();
}

void ActionRunner::setAskBeforeChanging(bool ask) {
    QSettings().setValue(kAskSetting, ask);
}

QAction* ActionRunner::askAction() {
    if (!m_askAction) {
        m_askAction = new QAction(QStringLiteral("Preview before changing the agent database"), this);
        m_askAction->setObjectName(QStringLiteral("AskBeforeChanging"));
        m_askAction->setCheckable(true);
        m_askAction->setChecked(askBeforeChanging());
        connect(m_askAction, &QAction::toggled, this, [](bool ask) { setAskBeforeChanging(ask); });
    }
    return m_askAction;
}

void ActionRunner::start(TaskAction action, const QList<ActionTarget>& targets, Done done) {
    const QString dbPath = m_dbPath;
    const QString journal = m_journalPath;
    startWork({[=](Feedback* status) { return planAction(action, targets, dbPath, status); },
               [=](Feedback& status) { return runAction(action, targets, dbPath, journal, status); },
               [=](const ActionReport& preview, Feedback& status) {
                   return applyPreview(preview, dbPath, journal, status);
               }},
              std::move(done));
}

void ActionRunner::startUndo(const QList<qint64>& entries, Done done) {
    const QString dbPath = m_dbPath;
    const QString journal = m_journalPath;
    startWork({[=](Feedback* status) { return planUndo(entries, dbPath, journal, status); },
               [=](Feedback& status) { return runUndo(entries, dbPath, journal, status); },
               [=](const ActionReport& preview, Feedback& status) {
                   return applyUndoPreview(preview, dbPath, journal, status);
               }},
              std::move(done));
}

void ActionRunner::startWork(const Work& work, Done done) {
    Q_ASSERT(!m_running);
    m_running = true;
    if (!askBeforeChanging()) {
        auto status = workerStatus();
        runOffThread(
            this, [work, status] { return work.run(*status); },
            [this, done = std::move(done)](const ActionReport& report) { finish(report, done); });
        return;
    }
    preview(work, std::move(done));
}

std::shared_ptr<Feedback> ActionRunner::workerStatus() {
    return std::make_shared<PostedStatus>(this, [this](const QString& text) {
        // A wait for the agent's lock shows on the cursor too, until the work is done.
        if (text == kWaitingForDatabaseStatus && !m_waitCursor) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));
            m_waitCursor = true;
        }
        m_status.setStatus(text);
    });
}

void ActionRunner::workDone() {
    if (m_waitCursor) {
        QGuiApplication::restoreOverrideCursor();
        m_waitCursor = false;
        m_status.setStatus(QString());
    }
}

void ActionRunner::preview(const Work& work, Done done) {
    auto status = workerStatus();
    runOffThread(
        this, [work, status] { return work.plan(status.get()); },
        [this, work, done = std::move(done)](const ActionReport& preview) {
            workDone();
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
            if (answer.dontAskAgain) {
                setAskBeforeChanging(false);
                if (m_askAction)
                    m_askAction->setChecked(false);
            }
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
