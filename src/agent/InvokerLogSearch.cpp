#include "agent/InvokerLogSearch.h"

#include "agent/InvokerLog.h"
#include "base/AgentFile.h"
#include "base/TextLines.h"

namespace corvane {

InvokerLogLines invokerLogLinesContaining(const QString& logPath, const QString& text, int maxLines) {
    InvokerLogLines result;
    AgentFile file;
    switch (openAgentFile(file, logPath, result.error)) {
    case AgentFileStatus::Missing:
        result.error = kLogMissingText;
        return result;
    case AgentFileStatus::Unreadable:
        return result;
    case AgentFileStatus::Read:
        break;
    }
    const QByteArray needle = text.toLatin1(); // the log is read one byte per character
    const qint64 end = readLinesFrom(file, 0, [&](QByteArrayView line, bool) {
        if (!line.contains(QByteArrayView(needle)))
            return;
        result.lines.append(QString::fromLatin1(line));
        if (result.lines.size() > maxLines) {
            result.lines.removeFirst();
            ++result.dropped;
        }
    });
    if (end < 0) {
        result.error = file.errorString();
        result.lines.clear();
        return result;
    }
    result.read = true;
    return result;
}

} // namespace corvane
