#pragma once

#include "agent/InvokerLogFollower.h"

#include <QString>
#include <QStringList>

namespace corvane {

// A log line longer than this is cut in the log boxes: a text box lays out a line of many megabytes for
// seconds, and nobody reads that far to the right.
constexpr qsizetype kLogBoxLineLimit = 4000;

inline QString cappedLine(const QString& line) {
    if (line.size() <= kLogBoxLineLimit)
        return line;
    return line.left(kLogBoxLineLimit) +
           QStringLiteral(" [... %1 more characters]").arg(line.size() - kLogBoxLineLimit);
}

// Lines as a log box shows them, one per line, without a break before the first or after the last.
inline QString joinedForLogBox(const QStringList& lines) {
    QStringList capped;
    capped.reserve(lines.size());
    for (const QString& line : lines)
        capped << cappedLine(line);
    return capped.join(QLatin1Char('\n'));
}

} // namespace corvane
