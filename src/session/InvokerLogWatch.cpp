#include "session/InvokerLogWatch.h"

#include "base/Clock.h"
#include "base/OffThread.h"

namespace corvane {

namespace {

// Reading more than this of the invoker log at once goes to a worker thread.
constexpr qint64 kBackgroundReadBytes = 4 * 1024 * 1024;

} // namespace

InvokerLogWatch::InvokerLogWatch(const QString& path, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_path(path)
    , m_clock(clock)
    , m_follower(std::make_shared<InvokerLogFollower>(kLogBoxLines)) {}

void InvokerLogWatch::check() {
    if (m_readRunning)
        return; // the worker's answer is on its way
    const QDate today = m_clock.today();
    if (!m_alwaysOffThread) {
        if (const std::optional<InvokerLogUpdate> update =
                m_follower->update(m_path, today, kBackgroundReadBytes)) {
            emit updated(*update);
            return;
        }
    }
    m_readRunning = true;
    runOffThread(
        this, [follower = m_follower, path = m_path, today] { return follower->update(path, today); },
        [this, path = m_path](const InvokerLogUpdate& update) {
            m_readRunning = false;
            if (path == m_path) // else it was read where the log no longer is
                emit updated(update);
        });
}

void InvokerLogWatch::setPath(const QString& path) {
    m_path = path;
    m_follower = std::make_shared<InvokerLogFollower>(kLogBoxLines);
}

} // namespace corvane
