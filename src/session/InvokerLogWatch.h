#pragma once

#include "agent/InvokerLogFollower.h"

#include <QObject>

#include <memory>

namespace corvane {

class Clock;

// Follows today's part of the invoker log for the log box: a check reads what was added since the last one;
// a large read (the first of a long log) runs off the interface thread, one at a time.
class InvokerLogWatch : public QObject {
    Q_OBJECT

public:
    InvokerLogWatch(const QString& path, const Clock& clock, QObject* parent = nullptr);

    void check();
    // The log moved with the agent's folder: follow it there from the start.
    void setPath(const QString& path);
    // Every check runs off the interface thread, even the look at the log's size (a log over the network).
    void setAlwaysOffThread(bool always) { m_alwaysOffThread = always; }

signals:
    // What changed; an Unreadable update says why the box no longer follows the log.
    void updated(const corvane::InvokerLogUpdate& update);

private:
    QString m_path;
    const Clock& m_clock;
    // Shared with the worker that reads a large part of the log.
    std::shared_ptr<InvokerLogFollower> m_follower;
    bool m_readRunning = false;
    bool m_alwaysOffThread = false;
};

} // namespace corvane
