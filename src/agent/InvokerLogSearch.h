#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// The lines of the whole invoker log, every day it holds, that contain `text`, in file order.
struct InvokerLogLines {
    bool read = false;
    QStringList lines;
    qsizetype dropped = 0; // earlier matching lines left out beyond `maxLines`
    QString error;         // why the log could not be read
};

// Reads the log at `logPath` once, keeping at most the last `maxLines` matching lines.
InvokerLogLines invokerLogLinesContaining(const QString& logPath, const QString& text, int maxLines);

} // namespace corvane
