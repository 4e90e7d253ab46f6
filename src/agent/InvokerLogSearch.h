#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

// The lines of the whole invoker log, every day it holds, that contain a text, with the indented lines that
// continue them, in file order. Read off the
// interface thread and handed over whole, so it carries its failure as data.
struct InvokerLogLines {
    QStringList lines;
    qsizetype dropped = 0; // earlier matching lines left out beyond the most kept
    QString error;         // why the log could not be read; empty when it was
};

// Reads the log at `logPath` once, through the agent-file opener (the agent may rename, delete or replace its
// log meanwhile), keeping in `found` at most the last `maxLines` lines that contain `text`. `goOn` is asked
// before each line: the search stops, failing, once it says no (the dialog that wants the lines has closed).
bool invokerLogLinesContaining(const QString& logPath, const QString& text, int maxLines,
                               const std::function<bool()>& goOn, InvokerLogLines& found, QString& error);

} // namespace corvane
