#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

namespace corvane {

inline const QString kLogMissingText = QStringLiteral("Can't find log file");

// A day's part of the invoker log: every line from the first one that carries the day's date key to the
// end of the file.
struct InvokerLogPart {
    enum class Status { Read, Missing, Unreadable };
    Status status = Status::Read;
    QStringList lines;
    QString error; // why the log could not be read

    // What the log box shows: each line preceded by CR LF; "Can't find log file" for a missing log.
    QString shownText() const;
};

// "dd Mon yyyy" with the English month abbreviation, whatever the locale: the stamp of a day's lines.
QString invokerDateKey(const QDate& date);

// Reads the invoker log at `logPath` and keeps the part of `date`. Bytes are read one per character.
InvokerLogPart readInvokerLog(const QString& logPath, const QDate& date);

// The kept part of a log's content: the lines from the first one containing `dateKey`.
QStringList linesFromDateKey(const QByteArray& content, const QString& dateKey);

} // namespace corvane
