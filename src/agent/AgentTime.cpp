#include "agent/AgentTime.h"

#include <QDate>

namespace corvane {

namespace {
constexpr qint64 kSecondsPerDay = 86400;
const qint64 kEpochDay = QDate(1970, 1, 1).toJulianDay();
const qint64 kFirstDay = QDate(100, 1, 1).toJulianDay() - kEpochDay;
const qint64 kLastDay = QDate(9999, 12, 31).toJulianDay() - kEpochDay;
} // namespace

std::optional<QString> agentTimeText(const QString& seconds) {
    bool ok = false;
    const qint64 value = seconds.trimmed().toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    // Floor division, so that times before 1970 land on the right day.
    qint64 day = value / kSecondsPerDay;
    qint64 secondOfDay = value % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --day;
    }
    if (day < kFirstDay || day > kLastDay)
        return std::nullopt;
    const QDate date = QDate::fromJulianDay(kEpochDay + day);
    const int minutes = int(secondOfDay / 60);
    // Written by hand: this runs for every reschedule date and scheduled time of every refresh.
    const int parts[] = {date.day(), date.month(), date.year() % 100, minutes / 60, minutes % 60};
    QString text(14, QLatin1Char(' '));
    QChar* out = text.data();
    for (int i = 0; i < 5; ++i) {
        out[i * 3] = QLatin1Char(char('0' + parts[i] / 10));
        out[i * 3 + 1] = QLatin1Char(char('0' + parts[i] % 10));
        if (i < 4)
            out[i * 3 + 2] = QLatin1Char(i < 2 ? '/' : i == 2 ? ' ' : ':');
    }
    return text;
}

} // namespace corvane
