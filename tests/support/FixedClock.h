#pragma once

#include "base/Clock.h"

namespace corvane::test {

// A clock that says what the test sets: no test depends on the wall clock or on crossing midnight.
class FixedClock final : public Clock {
public:
    explicit FixedClock(const QDateTime& now = QDateTime(QDate(2026, 3, 14), QTime(12, 0)))
        : m_now(now) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& now) { m_now = now; }
    void advanceSeconds(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};

} // namespace corvane::test
