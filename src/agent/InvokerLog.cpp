#include "agent/InvokerLog.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

#include <QBuffer>

namespace corvane {

namespace {
const char* const kMonthNames[] = {"",    "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
} // namespace

QString InvokerLogPart::shownText() const {
    if (status == Status::Missing)
        return kLogMissingText;
    QString text;
    for (const QString& line : lines)
        text += QStringLiteral("\r\n") + line;
    return text;
}

QString invokerDateKey(const QDate& date) {
    return QString::asprintf("%02d %s %04d", date.day(), kMonthNames[date.month()], date.year());
}

namespace {
// The day's part of a log read from `device` in chunks: only that part is kept, however long the log is.
bool readDayPart(QIODevice& device, const QString& dateKey, QStringList& lines) {
    const TextFinder key(dateKey.toLatin1());
    bool found = false;
    return readLinesFrom(device, 0, [&](QByteArrayView line, bool) {
               if (!found && key.isIn(line))
                   found = true;
               if (found)
                   lines.append(QString::fromLatin1(line));
           }) >= 0;
}
} // namespace

QStringList linesFromDateKey(const QByteArray& content, const QString& dateKey) {
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    QStringList lines;
    readDayPart(buffer, dateKey, lines);
    return lines;
}

InvokerLogPart readInvokerLog(const QString& logPath, const QDate& date) {
    InvokerLogPart part;
    AgentFile file;
    switch (openAgentFile(file, logPath, part.error)) {
    case AgentFileStatus::Missing:
        part.status = InvokerLogPart::Status::Missing;
        part.error.clear();
        return part;
    case AgentFileStatus::Unreadable:
        part.status = InvokerLogPart::Status::Unreadable;
        return part;
    case AgentFileStatus::Read:
        break;
    }
    if (!readDayPart(file, invokerDateKey(date), part.lines)) {
        part.status = InvokerLogPart::Status::Unreadable;
        part.error = file.errorString();
        part.lines.clear();
    }
    return part;
}

} // namespace corvane
