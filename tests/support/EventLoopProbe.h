#pragma once

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace corvane::test {

// Runs `start` in the event loop's thread, then serves events until `sender` emits `signal`, and returns the
// longest time in milliseconds that a 5 ms timer was late meanwhile: how long the window ignored its input.
template <typename Sender, typename Signal>
qint64 longestEventLoopBlockMs(const std::function<void()>& start, const Sender& sender, Signal signal,
                               int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 5);
        last = now;
    });
    QSignalSpy done(&sender, signal);
    probe.start(5);
    last = clock.elapsed();
    start();
    if (done.isEmpty())
        done.wait(timeoutMs);
    worst = std::max(worst, clock.elapsed() - last - 5); // the stretch since the last tick counts as well
    return std::max<qint64>(worst, 0);
}

} // namespace corvane::test
