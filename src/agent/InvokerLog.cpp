#include "agent/InvokerLog.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

#include <algorithm>

namespace corvane {

namespace {
const char* const kMonthNames[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
} // namespace

QString invokerDateKey(const QDate& date) {
    return QString::asprintf("%02d %s %04d", date.day(), kMonthNames[date.month()], date.year());
}

namespace {
// A line stamped near its start ("Fri, 13 Mar 2026 10:00:00 ...") with a date key other than `key`: a
// later day's line.
bool stampedAnotherDay(QByteArrayView line, const QByteArray& key) {
    auto digit = [&line](qsizetype at) {
        return line.at(at) >= '0' && line.at(at) <= '9';
    };
    const qsizetype last = std::min<qsizetype>(line.size() - key.size(), 24);
    for (qsizetype at = 0; at <= last; ++at) {
        if (!(digit(at) && digit(at + 1) && line.at(at + 2) == ' ' && line.at(at + 6) == ' ' &&
              digit(at + 7) && digit(at + 10)))
            continue;
        const QByteArrayView month = line.sliced(at + 3, 3);
        for (int m = 1; m <= 12; ++m) {
            if (month == QByteArrayView(kMonthNames[m]))
                return line.sliced(at, key.size()) != QByteArrayView(key);
        }
    }
    return false;
}

// The day's part of a log read from `device` in chunks: only that part is kept, however long the log is.
// `toDayEnd`: the part ends where a later day begins, else at the end of the log.
bool readDayPart(QIODevice& device, const QString& dateKey, bool toDayEnd, QStringList& lines) {
    const QByteArray keyBytes = dateKey.toLatin1();
    const TextFinder key(keyBytes);
    bool found = false;
    bool ended = false;
    const auto keep = [&](QByteArrayView line, bool) {
        if (!found && key.isIn(line))
            found = true;
        else if (found && toDayEnd && !ended)
            ended = stampedAnotherDay(line, keyBytes);
        if (found && !ended)
            lines.append(QString::fromLatin1(line));
    };
    return readLinesFrom(device, 0, keep, &key) >= 0;
}

AgentFileStatus readPart(const QString& logPath, const QDate& date, bool toDayEnd, QStringList& lines,
                         QString& error) {
    lines.clear();
    AgentFile file;
    QString openError;
    const AgentFileStatus opened = openAgentFile(file, logPath, openError);
    if (opened == AgentFileStatus::Unreadable)
        error = openError;
    if (opened != AgentFileStatus::Read)
        return opened;
    if (!readDayPart(file, invokerDateKey(date), toDayEnd, lines)) {
        error = file.errorString();
        lines.clear();
        return AgentFileStatus::Unreadable;
    }
    return AgentFileStatus::Read;
}

} // namespace

AgentFileStatus readInvokerLog(const QString& logPath, const QDate& date, QStringList& lines,
                               QString& error) {
    return readPart(logPath, date, false, lines, error);
}

AgentFileStatus readInvokerLogDay(const QString& logPath, const QDate& date, QStringList& lines,
                                  QString& error) {
    return readPart(logPath, date, true, lines, error);
}

} // namespace corvane
