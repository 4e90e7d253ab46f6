#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

namespace corvane {

// True on the thread that runs the event loop of the application (the interface thread).
inline bool onInterfaceThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// A worker's way back to the interface thread on behalf of `receiver`: what it posts runs there, in order,
// unless the receiver was destroyed meanwhile. The receiver is looked at on the interface thread only, where
// receivers are destroyed; the worker holds it through a shared handle it never reads.
class InterfaceThreadRelay {
public:
    explicit InterfaceThreadRelay(QObject* receiver)
        : m_receiver(std::make_shared<const QPointer<QObject>>(receiver)) {}

    template <typename Call> void post(Call call) const {
        // Posted to the application object, which outlives every receiver.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [receiver = m_receiver, call = std::move(call)]() mutable {
                Q_ASSERT(onInterfaceThread());
                if (*receiver)
                    call();
            },
            Qt::QueuedConnection);
    }

private:
    std::shared_ptr<const QPointer<QObject>> m_receiver;
};

// Runs work() on the thread pool, then done(result) on the interface thread, unless receiver was destroyed
// meanwhile (the result is then dropped). work must not touch receiver: it runs while receiver lives on.
// The single way this code base moves waiting on the disk or on a database lock off the interface thread.
template <typename Work, typename Done> void runOffThread(QObject* receiver, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    Q_ASSERT(onInterfaceThread());
    InterfaceThreadRelay relay(receiver);
    QThreadPool::globalInstance()->start([relay, work = std::move(work), done = std::move(done)]() mutable {
        Q_ASSERT(!onInterfaceThread());
        Result result = work();
        relay.post(
            [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
    });
}

} // namespace corvane
