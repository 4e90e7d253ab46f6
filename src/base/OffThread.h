#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QList>
#include <QPointer>
#include <QRunnable>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#ifdef CORVANE_TSAN
#include <sanitizer/tsan_interface.h>
#endif

#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace corvane {

// True on the thread that runs the event loop of the application (the interface thread).
inline bool onInterfaceThread() {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

namespace detail {

// Qt hands a task to the pool, and an event to the interface thread, under locks of its own that the thread
// sanitizer does not see (Qt is not built with it). Each hand-over is declared to it on the channel of its
// queue: what a thread did before handing over comes before what the thread that takes over does after.
// The taking thread declares it before it reads anything handed over, the task or the event included.
inline char poolChannel;
inline char interfaceThreadChannel;
inline void handOver([[maybe_unused]] char& channel) {
#ifdef CORVANE_TSAN
    __tsan_release(&channel);
#endif
}
inline void takeOver([[maybe_unused]] char& channel) {
#ifdef CORVANE_TSAN
    __tsan_acquire(&channel);
#endif
}

// A call posted to the interface thread.
class PostedCall : public QEvent {
public:
    static QEvent::Type kind() {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }
    PostedCall()
        : QEvent(kind()) {}
    virtual void run() = 0;
};

template <typename Call> class PostedCallOf final : public PostedCall {
public:
    explicit PostedCallOf(Call call)
        : m_call(std::move(call)) {}
    void run() override { m_call(); }

private:
    Call m_call;
};

// Runs the posted calls. Lives on the interface thread and is never destroyed: a call may be posted while
// the application ends.
class PostedCallTarget final : public QObject {
public:
    static QObject* instance() {
        static QObject* const target = [] {
            auto* created = new PostedCallTarget;
            created->moveToThread(QCoreApplication::instance()->thread());
            return created;
        }();
        return target;
    }

protected:
    bool event(QEvent* event) override {
        takeOver(interfaceThreadChannel);
        if (event->type() != PostedCall::kind())
            return QObject::event(event);
        static_cast<PostedCall*>(event)->run();
        return true;
    }
};

} // namespace detail

// A worker's way back to the interface thread on behalf of `receiver`: what it posts runs there, in order,
// unless the receiver was destroyed meanwhile. The receiver is looked at on the interface thread only, where
// receivers are destroyed; the worker holds it through a shared handle it never reads.
class InterfaceThreadRelay {
public:
    explicit InterfaceThreadRelay(QObject* receiver)
        : m_receiver(std::make_shared<const QPointer<QObject>>(receiver)) {}

    template <typename Call> void post(Call call) const {
        QObject* const target = detail::PostedCallTarget::instance();
        auto* posted = new detail::PostedCallOf([receiver = m_receiver, call = std::move(call)]() mutable {
            Q_ASSERT(onInterfaceThread());
            if (*receiver)
                call();
        });
        detail::handOver(detail::interfaceThreadChannel);
        QCoreApplication::postEvent(target, posted);
    }

private:
    std::shared_ptr<const QPointer<QObject>> m_receiver;
};

namespace detail {

template <typename Work, typename Done> class OffThreadTask final : public QRunnable {
public:
    OffThreadTask(QObject* receiver, Work work, Done done)
        : m_relay(receiver)
        , m_work(std::move(work))
        , m_done(std::move(done)) {}
    void run() override {
        takeOver(poolChannel);
        Q_ASSERT(!onInterfaceThread());
        auto result = m_work();
        m_relay.post(
            [done = std::move(m_done), result = std::move(result)]() mutable { done(std::move(result)); });
    }

private:
    InterfaceThreadRelay m_relay;
    Work m_work;
    Done m_done;
};

} // namespace detail

// Threads of their own for the work of one object and of every object below it (a workstation reached over
// the network): a share that stops answering holds only these, never the threads the rest of the program
// shares. Made on the interface thread as a child of that object. When it goes while a call still hangs,
// its threads are left to end on their own; nothing waits for them.
class OwnWorkerThreads final : public QObject {
public:
    static constexpr int kMaxThreads = 4;

    explicit OwnWorkerThreads(QObject* owner)
        : QObject(owner)
        , m_pool(new QThreadPool) {
        setObjectName(name());
        m_pool->setMaxThreadCount(kMaxThreads);
    }
    ~OwnWorkerThreads() override {
        m_pool->clear(); // what has not started never will
        if (m_pool->waitForDone(0)) {
            delete m_pool;
            return;
        }
        // Kept where the leak checker sees it: the pool's threads may still end one day.
        static std::mutex lock;
        static QList<QThreadPool*> left;
        const std::lock_guard<std::mutex> hold(lock);
        left.append(m_pool);
    }
    QThreadPool* pool() const { return m_pool; }
    static QString name() { return QStringLiteral("corvane.ownWorkerThreads"); }

private:
    QThreadPool* m_pool;
};

// The program's shared worker threads. Not Qt's global pool: Qt's raster painting splits a tall fill (a
// scroll bar's groove) across the global pool's threads and waits for them, so a repaint of the window
// waited for whatever read or database lock held those threads. The application waits for the work still
// running on them before it goes, as it does for its global pool.
inline QThreadPool* sharedWorkerPool() {
    static QThreadPool* const pool = [] {
        auto* made = new QThreadPool;
        qAddPostRoutine([] { sharedWorkerPool()->waitForDone(); });
        return made;
    }();
    return pool;
}

// The pool that runs work for `receiver`: the own threads of the nearest object at or above it that has
// them, else the program's shared pool.
inline QThreadPool* workerPoolFor(const QObject* receiver) {
    for (const QObject* object = receiver; object; object = object->parent()) {
        const QObject* own =
            object->findChild<QObject*>(OwnWorkerThreads::name(), Qt::FindDirectChildrenOnly);
        if (own)
            return static_cast<const OwnWorkerThreads*>(own)->pool();
    }
    return sharedWorkerPool();
}

// Runs work() on the thread pool, then done(result) on the interface thread, unless receiver was destroyed
// meanwhile (the result is then dropped). work must not touch receiver: it runs while receiver lives on.
// The single way this code base moves waiting on the disk or on a database lock off the interface thread.
// Work for an object below OwnWorkerThreads runs on those threads.
template <typename Work, typename Done> void runOffThread(QObject* receiver, Work work, Done done) {
    Q_ASSERT(onInterfaceThread());
    auto* task = new detail::OffThreadTask<Work, Done>(receiver, std::move(work), std::move(done));
    detail::handOver(detail::poolChannel);
    workerPoolFor(receiver)->start(task);
}

namespace detail {

// The threads of their own not deleted yet, held where the leak checker sees them: the program may end
// before one that has finished is deleted, or while one still hangs. Touched on the interface thread only.
inline QSet<QThread*>& threadsOfTheirOwn() {
    static auto* const threads = new QSet<QThread*>;
    return *threads;
}

} // namespace detail

// The same for work that may never return (a read of another machine's share that hangs in the kernel):
// work() runs on a thread of its own that is never waited for, so a call left hanging keeps only that thread,
// the pool stays free and the program can still end. False, with nothing run, when no thread could be
// started. A thread Qt starts itself, not one it adopts: under Wine, with several reads at once, a foreign
// thread now and then did not begin its work for longer than the reader's deadline.
template <typename Work, typename Done> bool runOnThreadOfItsOwn(QObject* receiver, Work work, Done done) {
    Q_ASSERT(onInterfaceThread());
    QThread* const thread = QThread::create(
        [relay = InterfaceThreadRelay(receiver), work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            relay.post(
                [done = std::move(done), result = std::move(result)]() mutable { done(std::move(result)); });
        });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    if (!thread->isRunning() && !thread->isFinished()) {
        delete thread;
        return false;
    }
    detail::threadsOfTheirOwn().insert(thread);
    QObject::connect(thread, &QObject::destroyed, [thread] { detail::threadsOfTheirOwn().remove(thread); });
    return true;
}

} // namespace corvane
