#include "sync/SyncLog.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

namespace corvane {

bool SyncTally::isStamped(QByteArrayView line) {
    return line.contains(':');
}

void SyncTally::add(const QString& stampedLine) {
    lastStamped = stampedLine;
    if (stampedLine.contains(QLatin1String("Download information for")))
        ++policyCount;
    if (stampedLine.contains(QLatin1String("The remote operation file")) &&
        stampedLine.contains(QLatin1String("was downloaded")))
        ++xmlCount;
}

bool syncEnded(const SyncTally& tally) {
    return tally.lastStamped && tally.lastStamped->contains(QLatin1String("[STOP]"));
}

QString syncSummary(const SyncTally& tally, bool joined) {
    const QString summary =
        QStringLiteral("Synchronized: %1 (%2 xml downloaded)").arg(tally.policyCount).arg(tally.xmlCount);
    return joined ? summary + QStringLiteral(", joined a run in progress") : summary;
}

SyncLogFollower::SyncLogFollower(const QString& path)
    : m_path(path) {
    const FileState file = FileState::of(path);
    AgentFile log;
    QString error;
    if (!file.isFile || openAgentFile(log, path, error) != AgentFileStatus::Read)
        return; // whatever appears at the path later is the run's
    // Only the size is taken, whatever the log holds: a run's lines are found without looking for them.
    m_log.consume(file, log, file.size);
}

void SyncLogFollower::restart(SyncPass& pass) {
    pass.fromStart = true;
    m_log.restart();
    m_complete = SyncTally();
}

SyncPass SyncLogFollower::pass(bool final) {
    SyncPass pass;
    const FileState file = FileState::of(m_path);
    pass.logChanged = !file.unchangedSince(m_log.state) && (file.isFile || m_log.state.isFile);
    AgentFile log;
    QString error;
    if (!file.isFile || openAgentFile(log, m_path, error) != AgentFileStatus::Read) {
        // The log is gone, and the run's lines with it; one that comes back is read from its start.
        if (m_log.state.isFile)
            restart(pass);
        m_log.state = FileState();
        pass.tally = m_complete;
        return pass;
    }
    // Only what follows the bytes already read is new, unless the log started over.
    if (m_log.look(file, m_path) == GrowingFile::Look::Restarted)
        restart(pass);

    SyncTally current;
    bool unfinished = false;
    const qint64 consumed = readLinesFrom(log, m_log.consumed, [&](QByteArrayView bytes, bool complete) {
        const bool stamped = SyncTally::isStamped(bytes);
        if (complete || final) {
            if (!stamped)
                return;
            const QString line = QString::fromLatin1(bytes);
            m_complete.add(line);
            pass.lines.append(line);
            if (pass.lines.size() > kSyncLogLines) {
                pass.lines.removeFirst();
                ++pass.linesLeftOut;
            }
            return;
        }
        // Counted for this pass only: it is read again, longer, next time.
        unfinished = true;
        current = m_complete;
        if (stamped) {
            pass.unfinishedLine = QString::fromLatin1(bytes);
            current.add(*pass.unfinishedLine);
        }
    });
    if (consumed < 0) { // not readable just now: the next pass tries again from the same point
        pass.lines.clear();
        pass.linesLeftOut = 0;
        pass.unfinishedLine.reset();
        pass.tally = m_complete;
        return pass;
    }
    m_log.consume(file, log, final ? log.pos() : consumed);
    pass.tally = unfinished && !final ? current : m_complete;
    return pass;
}

} // namespace corvane
