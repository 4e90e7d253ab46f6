#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// A log line longer than this is cut in the log boxes: a text box lays out a line of many megabytes for
// seconds, and nobody reads that far to the right.
constexpr qsizetype kLogBoxLineLimit = 4000;

// The text a log box shows for `lines`, one per line; each line starts with a line break when
// `breakBefore`, else ends with one.
inline QString logBoxText(const QStringList& lines, bool breakBefore) {
    QString text;
    for (const QString& line : lines) {
        if (breakBefore)
            text += QLatin1Char('\n');
        if (line.size() > kLogBoxLineLimit)
            text += line.left(kLogBoxLineLimit) +
                    QStringLiteral(" [... %1 more characters]").arg(line.size() - kLogBoxLineLimit);
        else
            text += line;
        if (!breakBefore)
            text += QLatin1Char('\n');
    }
    return text;
}

} // namespace corvane
