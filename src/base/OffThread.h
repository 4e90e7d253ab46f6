#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <type_traits>
#include <utility>

namespace corvane {

// True on the thread that runs the event loop of the application (the interface thread).
inline bool onInterfaceThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Runs work() on the thread pool, then done(result) on the interface thread, unless receiver was destroyed
// meanwhile (the result is then dropped). work must not touch receiver: it runs while receiver lives on.
// The single way this code base moves waiting on the disk or on a database lock off the interface thread.
template <typename Work, typename Done> void runOffThread(QObject* receiver, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    Q_ASSERT(onInterfaceThread());
    QPointer<QObject> guard(receiver);
    QThreadPool::globalInstance()->start([guard, work = std::move(work), done = std::move(done)]() mutable {
        Q_ASSERT(!onInterfaceThread());
        Result result = work();
        // Posted to the application object, which outlives every receiver: the guard is read on the
        // interface thread only, where receivers are destroyed.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done = std::move(done), result = std::move(result)]() mutable {
                Q_ASSERT(onInterfaceThread());
                if (guard)
                    done(std::move(result));
            },
            Qt::QueuedConnection);
    });
}

} // namespace corvane
