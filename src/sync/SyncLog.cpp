#include "sync/SyncLog.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

#include <algorithm>

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

namespace {
// SyncTally::add for a stamped line still in bytes (one character per byte), but for the last stamped line,
// which the caller keeps: a first pass over a long log counts a million lines.
void countStamped(SyncTally& tally, QByteArrayView line) {
    if (holdsText(line, "Download information for"))
        ++tally.policyCount;
    if (holdsText(line, "The remote operation file") && holdsText(line, "was downloaded"))
        ++tally.xmlCount;
}
} // namespace

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
    // What the look and the read on need comes with the open: one call of the helper thread a pass.
    if (!file.isFile || openAgentFile(log, m_path, error, m_log.readAhead(file)) != AgentFileStatus::Read) {
        // The log is gone, and the run's lines with it; one that comes back is read from its start.
        if (m_log.state.isFile)
            restart(pass);
        m_log.state = FileState();
        pass.tally = m_complete;
        return pass;
    }
    // Only what follows the bytes already read is new, unless the log started over.
    if (m_log.look(file, log) == GrowingFile::Look::Restarted)
        restart(pass);

    SyncTally current;
    bool unfinished = false;
    // The lines stay bytes until the pass ends, and only the last ones shown become text.
    LastLines shown(kSyncLogLines);
    qint64 stampedLines = 0;
    // The last stamped line is the last one shown.
    const auto settleLastStamped = [&] {
        if (stampedLines > 0)
            m_complete.lastStamped = QString::fromLatin1(shown.last());
    };
    const qint64 consumed = readLinesFrom(log, m_log.consumed, [&](QByteArrayView bytes, bool complete) {
        const bool stamped = SyncTally::isStamped(bytes);
        if (complete || final) {
            if (!stamped)
                return;
            countStamped(m_complete, bytes);
            shown.add(bytes);
            ++stampedLines;
            return;
        }
        // Counted for this pass only: it is read again, longer, next time.
        unfinished = true;
        settleLastStamped();
        current = m_complete;
        if (stamped) {
            pass.unfinishedLine = QString::fromLatin1(bytes);
            current.add(*pass.unfinishedLine);
        }
    });
    settleLastStamped();
    pass.lines = shown.latin1LogLines(); // one text, made here: the window takes it as it is
    pass.linesLeftOut = stampedLines - pass.lines.size();
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
