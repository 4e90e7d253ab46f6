#include "SyncLog.h"

#include "AgentFile.h"
#include "TextLines.h"

#include <QFile>

#include <algorithm>

namespace corvane {

namespace {

bool isStamped(QByteArrayView line) {
    return line.contains(':');
}

// The effect of one line on a pass in progress.
void applyLine(SyncPass& pass, bool& pastMarker, QByteArrayView bytes, const QString& markerLine) {
    if (!isStamped(bytes))
        return;
    const QString line = QString::fromLatin1(bytes);
    pass.lastStamped = line;
    if (line == markerLine)
        pastMarker = true;
    if (!pastMarker)
        return;
    if (line.contains(QLatin1String("Download information for")))
        ++pass.policyCount;
    if (line.contains(QLatin1String("The remote operation file")) &&
        line.contains(QLatin1String("was downloaded")))
        ++pass.xmlCount;
    if (line != markerLine)
        pass.shownLines.append(line);
}

} // namespace

QString syncMarkerLine(const QByteArray& content) {
    QByteArrayView marker;
    forEachLine(content, [&](QByteArrayView line) {
        if (isStamped(line))
            marker = line;
    });
    return QString::fromLatin1(marker);
}

SyncPass readSyncPass(const QByteArray& content, const QString& markerLine) {
    SyncPass pass;
    bool pastMarker = false;
    forEachLine(content, [&](QByteArrayView bytes) { applyLine(pass, pastMarker, bytes, markerLine); });
    return pass;
}

bool syncEnded(const QString& currentLine, const QString& markerLine) {
    return currentLine != markerLine && currentLine.contains(QLatin1String("[STOP]"));
}

QString syncSummary(int policyCount, int xmlCount) {
    return QStringLiteral("Synchronized: %1 (%2 xml downloaded)").arg(policyCount).arg(xmlCount);
}

QByteArray readWholeFile(const QString& path) {
    QFile file;
    QString error;
    if (openAgentFile(file, path, error) != AgentFileStatus::Read)
        return QByteArray();
    return file.readAll();
}

QString lastStampedLine(const QString& path, qint64 chunkSize) {
    QFile file;
    QString error;
    if (openAgentFile(file, path, error) != AgentFileStatus::Read)
        return QString();
    QByteArray tail; // the file's last bytes, grown backwards until they hold a whole stamped line
    qint64 start = file.size();
    while (start > 0) {
        const qint64 from = std::max<qint64>(0, start - chunkSize);
        if (!file.seek(from))
            return QString();
        tail.prepend(file.read(start - from));
        start = from;
        // Only lines that begin inside the tail are whole: a first line that may have been cut is left out.
        const qsizetype firstWhole = start == 0 ? 0 : tail.indexOf('\n') + 1;
        if (start > 0 && firstWhole == 0)
            continue;
        QByteArrayView last;
        forEachLine(QByteArray::fromRawData(tail.constData() + firstWhole, tail.size() - firstWhole),
                    [&](QByteArrayView line) {
                        if (isStamped(line))
                            last = line;
                    });
        if (!last.isNull())
            return QString::fromLatin1(last);
    }
    return QString();
}

SyncLogFollower::SyncLogFollower(const QString& markerLine)
    : m_markerLine(markerLine) {}

void SyncLogFollower::apply(State& state, QByteArrayView bytes) const {
    applyLine(state.pass, state.pastMarker, bytes, m_markerLine);
}

SyncPass SyncLogFollower::pass(const QString& path) {
    const FileState file = FileState::of(path);
    // A log that shrank, was replaced or rewritten is read again from its start; a missing one has no lines.
    const bool appended = file.sameFile(m_file) && (file.size > m_file.size || file.unchangedSince(m_file));
    if (!appended) {
        m_consumed = 0;
        m_complete = State();
    }
    m_file = file;
    QFile log;
    QString error;
    if (!file.isFile || openAgentFile(log, path, error) != AgentFileStatus::Read) {
        m_file = FileState();
        return m_complete.pass;
    }
    // An unfinished last line counts for this pass only: it is read again, longer, next time.
    State current;
    bool unfinished = false;
    const qint64 consumed = readLinesFrom(log, m_consumed, [&](QByteArrayView line, bool complete) {
        if (complete) {
            apply(m_complete, line);
        } else {
            unfinished = true;
            current = m_complete;
            apply(current, line);
        }
    });
    if (consumed < 0) { // unreadable now: no lines this pass, and the whole log next time
        m_file = FileState();
        m_consumed = 0;
        m_complete = State();
        return SyncPass();
    }
    m_consumed = consumed;
    return unfinished ? current.pass : m_complete.pass;
}

} // namespace corvane
