#include "ActionRunner.h"

#include "Feedback.h"
#include "MessagePresenter.h"
#include "OffThread.h"

#include <QAction>
#include <QCoreApplication>
#include <QPointer>
#include <QSettings>

namespace corvane {

namespace {

const QString kAskSetting = QStringLiteral("actions/askBeforeChanging");

// Hands the action's status texts from the worker thread to the window's status line, in order.
class PostedStatus : public Feedback {
public:
    PostedStatus(QObject* receiver, Feedback& target)
        : m_receiver(receiver)
        , m_target(&target) {}
    void setStatus(const QString& text) override {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [receiver = m_receiver, target = m_target, text] {
                if (receiver)
                    target->setStatus(text);
            },
            Qt::QueuedConnection);
    }
    void showMessage(const QString&) override {} // the action reports in its result, not by messages

private:
    QPointer<QObject> m_receiver;
    Feedback* m_target;
};

} // namespace

ActionRunner::ActionRunner(const QString& dbPath, MessagePresenter& messages, Feedback& status,
                           QObject* parent)
    : QObject(parent)
    , m_dbPath(dbPath)
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
    Q_ASSERT(!m_running);
    m_running = true;
    if (!askBeforeChanging()) {
        run(action, targets, std::move(done));
        return;
    }
    const QString dbPath = m_dbPath;
    runOffThread(
        this, [action, targets, dbPath] { return planAction(action, targets, dbPath); },
        [this, action, targets, done = std::move(done)](const ActionReport& preview) {
            const MessagePresenter::PreviewAnswer answer = m_messages.confirmAction(preview);
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
            run(action, targets, done);
        });
}

void ActionRunner::run(TaskAction action, const QList<ActionTarget>& targets, Done done) {
    const QString dbPath = m_dbPath;
    auto status = std::make_shared<PostedStatus>(this, m_status);
    runOffThread(
        this, [action, targets, dbPath, status] { return runAction(action, targets, dbPath, *status); },
        [this, done = std::move(done)](const ActionReport& report) {
            m_running = false;
            done(report);
        });
}

} // namespace corvane
