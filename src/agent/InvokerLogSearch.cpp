#include "agent/InvokerLogSearch.h"

#include "agent/InvokerLog.h"
#include "base/AgentFile.h"
#include "base/TextLines.h"

namespace corvane {

bool invokerLogLinesContaining(const QString& logPath, const QString& text, int maxLines,
                               const std::function<bool()>& goOn, InvokerLogLines& found, QString& error) {
    found.lines.clear();
    found.dropped = 0;
    AgentFile file;
    QString openError;
    switch (openAgentFile(file, logPath, openError)) {
    case AgentFileStatus::Missing:
        error = kLogMissingText;
        return false;
    case AgentFileStatus::Unreadable:
        error = openError;
        return false;
    case AgentFileStatus::Read:
        break;
    }
    const QByteArray needle = text.toLatin1(); // the log is read one byte per character
    bool stopped = false;
    bool inEntry = false; // an indented line continues the entry above it, and goes with it
    const qint64 end = readLinesFrom(file, 0, [&](QByteArrayView line, bool) {
        if (stopped || (goOn && !goOn())) {
            stopped = true;
            return;
        }
        const bool continuation = line.startsWith(' ') || line.startsWith('\t');
        if (!continuation)
            inEntry = line.contains(QByteArrayView(needle));
        if (!inEntry && !line.contains(QByteArrayView(needle)))
            return;
        found.lines.append(QString::fromLatin1(line));
        if (found.lines.size() > maxLines) {
            found.lines.removeFirst();
            ++found.dropped;
        }
    });
    if (end < 0 || stopped) {
        error = stopped ? QStringLiteral("the search was stopped") : file.errorString();
        found.lines.clear();
        return false;
    }
    return true;
}

} // namespace corvane
