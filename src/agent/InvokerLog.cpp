#include "InvokerLog.h"

#include "TextLines.h"

#include <QFile>
#include <QFileInfo>

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

QStringList linesFromDateKey(const QByteArray& content, const QString& dateKey) {
    QStringList lines;
    const QByteArray key = dateKey.toLatin1();
    bool found = false;
    forEachLine(content, [&](QByteArrayView line) {
        if (!found && line.contains(QByteArrayView(key)))
            found = true;
        if (found)
            lines.append(QString::fromLatin1(line));
    });
    return lines;
}

InvokerLogPart readInvokerLog(const QString& logPath, const QDate& date) {
    InvokerLogPart part;
    if (!QFileInfo(logPath).isFile()) {
        part.status = InvokerLogPart::Status::Missing;
        return part;
    }
    // Read in chunks: only the day's part is kept, however long the log is.
    QFile file(logPath);
    const QByteArray key = invokerDateKey(date).toLatin1();
    bool found = false;
    const bool read =
        file.open(QIODevice::ReadOnly) && readLinesFrom(file, 0, [&](QByteArrayView line, bool) {
                                              if (!found && line.contains(QByteArrayView(key)))
                                                  found = true;
                                              if (found)
                                                  part.lines.append(QString::fromLatin1(line));
                                          }) >= 0;
    if (!read) {
        part.status = InvokerLogPart::Status::Unreadable;
        part.error = file.errorString();
        part.lines.clear();
    }
    return part;
}

} // namespace corvane
