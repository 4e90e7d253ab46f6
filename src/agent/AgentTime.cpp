#include "agent/AgentTime.h"

#include <QDate>

#include <algorithm>

namespace corvane {

namespace {
constexpr qint64 kSecondsPerDay = 86400;
const qint64 kEpochDay = QDate(1970, 1, 1).toJulianDay();
const qint64 kFirstDay = QDate(100, 1, 1).toJulianDay() - kEpochDay;
const qint64 kLastDay = QDate(9999, 12, 31).toJulianDay() - kEpochDay;

struct CivilDate {
    int year;
    int month;
    int day;
};

// The Gregorian date `days` after 01/01/1970, as QDate counts it, without its three look-ups of the same
// day: this runs for every reschedule date and scheduled time of every refresh.
CivilDate civilDate(qint64 days) {
    const qint64 shifted = days + 719468; // days since 01/03/0000, years then ending with February
    const qint64 era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const qint64 dayOfEra = shifted - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const int month = int(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    return {int(yearOfEra + era * 400 + (month <= 2 ? 1 : 0)), month, day};
}

// "dd/mm/yy hh:nn" of `value` seconds since 1970; see agentTimeText.
std::optional<QString> timeText(qint64 value) {
    // Floor division, so that times before 1970 land on the right day.
    qint64 day = value / kSecondsPerDay;
    qint64 secondOfDay = value % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --day;
    }
    if (day < kFirstDay || day > kLastDay)
        return std::nullopt;
    const CivilDate date = civilDate(day);
    const int minutes = int(secondOfDay / 60);
    // Written by hand, for the same reason.
    const int parts[] = {date.day, date.month, date.year % 100, minutes / 60, minutes % 60};
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
} // namespace

std::optional<QString> agentTimeText(const QString& seconds) {
    bool ok = false;
    const qint64 value = seconds.trimmed().toLongLong(&ok, 10);
    return ok ? timeText(value) : std::nullopt;
}

std::optional<QString> agentTimeTextOfAscii(QByteArrayView seconds) {
    // Other bytes go the way of text, which trims more kinds of space.
    if (!std::all_of(seconds.begin(), seconds.end(), [](char c) { return uchar(c) < 0x80; }))
        return agentTimeText(QString::fromUtf8(seconds));
    bool ok = false;
    const qint64 value = seconds.trimmed().toLongLong(&ok, 10);
    return ok ? timeText(value) : std::nullopt;
}

} // namespace corvane
