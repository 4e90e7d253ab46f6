#pragma once

#include <QDate>
#include <QDateTime>

namespace corvane {

// The one source of "now" and "today" (the invoker log's day, stamps, "Updated HH:MM:SS"): tests hand in a
// clock of their own rather than depend on the wall clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    QDate today() const { return now().date(); }
};

// The machine's local time.
class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// The clock the executables use; stateless, so one shared instance is enough.
inline const Clock& systemClock() {
    static const SystemClock clock;
    return clock;
}

} // namespace corvane
