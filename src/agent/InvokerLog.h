#pragma once

#include "base/AgentFile.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace corvane {

inline const QString kLogMissingText = QStringLiteral("Can't find log file");

// "dd Mon yyyy" with the English month abbreviation, whatever the locale: the stamp of a day's lines.
QString invokerDateKey(const QDate& date);

// Reads the invoker log at `logPath` and keeps into `lines` the part of `date`: every line from the first one
// that carries the day's date key to the end of the file. Bytes are read one per character. Missing (no log)
// and Unreadable (with the reason in `error`) leave `lines` empty.
AgentFileStatus readInvokerLog(const QString& logPath, const QDate& date, QStringList& lines, QString& error);
// The same for a past day: its part ends where a later day's first line begins.
AgentFileStatus readInvokerLogDay(const QString& logPath, const QDate& date, QStringList& lines,
                                  QString& error);

} // namespace corvane
