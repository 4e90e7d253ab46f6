#include "agent/InvokerLog.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

namespace corvane {

namespace {
const char* const kMonthNames[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
} // namespace

QString invokerDateKey(const QDate& date) {
    return QString::asprintf("%02d %s %04d", date.day(), kMonthNames[date.month()], date.year());
}

namespace {
// The day's part of a log read from `device` in chunks: only that part is kept, however long the log is.
bool readDayPart(QIODevice& device, const QString& dateKey, QStringList& lines) {
    const QByteArray key = dateKey.toLatin1();
    bool found = false;
    return readLinesFrom(device, 0, [&](QByteArrayView line, bool) {
               if (!found && line.contains(QByteArrayView(key)))
                   found = true;
               if (found)
                   lines.append(QString::fromLatin1(line));
           }) >= 0;
}
} // namespace

AgentFileStatus readInvokerLog(const QString& logPath, const QDate& date, QStringList& lines,
                               QString& error) {
    lines.clear();
    AgentFile file;
    QString openError;
    const AgentFileStatus opened = openAgentFile(file, logPath, openError);
    if (opened == AgentFileStatus::Unreadable)
        error = openError;
    if (opened != AgentFileStatus::Read)
        return opened;
    if (!readDayPart(file, invokerDateKey(date), lines)) {
        error = file.errorString();
        lines.clear();
        return AgentFileStatus::Unreadable;
    }
    return AgentFileStatus::Read;
}

} // namespace corvane
