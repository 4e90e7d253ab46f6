#include "agent/InvokerLogFollower.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

#include <limits>

namespace corvane {

InvokerLogFollower::InvokerLogFollower(int boxLines)
    : m_boxLines(std::max(boxLines, 2)) {}

InvokerLogUpdate InvokerLogFollower::update(const QString& path, const QDate& date) {
    return *update(path, date, std::numeric_limits<qint64>::max());
}

std::optional<InvokerLogUpdate> InvokerLogFollower::update(const QString& path, const QDate& date,
                                                           qint64 atMostBytes) {
    const QString dateKey = invokerDateKey(date);
    const FileState file = FileState::of(path);
    // Something there that is no regular file is read, and refused, as the reader's own error.
    if (!file.exists)
        return m_valid && m_status == AgentFileStatus::Missing ? InvokerLogUpdate() : missing();
    const bool following = m_valid && m_status == AgentFileStatus::Read && dateKey == m_dateKey;
    if (following && file.unchangedSince(m_log.state))
        return InvokerLogUpdate();
    // Told before anything is read, and again once the look has told an append from a restart.
    const auto tooLarge = [&](qint64 size, bool fromStart) {
        return size - (fromStart ? 0 : m_log.consumed) > atMostBytes;
    };
    if (tooLarge(file.size, !following))
        return std::nullopt;
    AgentFile log;
    QString openError;
    // Read with the open: the bytes the look compares and those that follow, or the first chunk.
    const AgentFileStatus opened =
        openAgentFile(log, path, openError, following ? m_log.readAhead(file) : AgentFileReadAhead{0, 0});
    if (opened == AgentFileStatus::Missing)
        return missing();
    if (opened != AgentFileStatus::Read) {
        *this = InvokerLogFollower(m_boxLines); // read it all again next time
        InvokerLogUpdate update;
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.status = AgentFileStatus::Unreadable;
        update.error = openError;
        return update;
    }
    // Anything but an append (another file, shrunk, or rewritten, even rewritten longer) is read again.
    const GrowingFile::Look look = following ? m_log.look(file, log) : GrowingFile::Look::Restarted;
    if (look == GrowingFile::Look::Unchanged)
        return InvokerLogUpdate();
    const bool fromStart = look == GrowingFile::Look::Restarted;
    if (tooLarge(log.size(), fromStart))
        return std::nullopt;
    return read(log, file, dateKey, fromStart);
}

InvokerLogUpdate InvokerLogFollower::missing() {
    *this = InvokerLogFollower(m_boxLines);
    m_valid = true;
    m_status = AgentFileStatus::Missing;
    InvokerLogUpdate update;
    update.kind = InvokerLogUpdate::Kind::Replaced;
    update.status = AgentFileStatus::Missing;
    return update;
}

InvokerLogUpdate InvokerLogFollower::read(AgentFile& log, const FileState& file, const QString& dateKey,
                                          bool fromStart) {
    InvokerLogUpdate update;
    if (fromStart) {
        m_log.restart();
        m_found = false;
        m_unfinishedShown = false;
        m_partLines = 0;
    }
    const bool wasUnfinishedShown = m_unfinishedShown;
    if (wasUnfinishedShown)
        --m_partLines; // it comes again, finished or longer

    qint64 newLines = 0;
    bool found = m_found;
    bool sawUnfinished = false;
    bool unfinishedShown = false;
    bool foundBeforeUnfinished = m_found;
    qint64 consumed = -1;
    // Once the day's part has begun every new line belongs to it, and new bytes that came with the open
    // are cut in one go.
    QByteArrayView added;
    const qint64 addedSize = log.size() - m_log.consumed;
    if (m_found && log.seek(m_log.consumed) && log.readView(addedSize, added) && added.size() == addedSize) {
        LineRun run = LineRun::of(added, m_boxLines);
        newLines = run.count;
        sawUnfinished = unfinishedShown = run.unfinished;
        consumed = m_log.consumed + run.completeEnd;
        update.lines = std::move(run.last);
    } else {
        // Only the last lines can be shown, so only they are kept.
        LastLines& kept = m_kept;
        kept.clear();
        const TextFinder key(dateKey.toLatin1());
        const auto keep = [&](QByteArrayView line, bool complete) {
            if (!complete) {
                sawUnfinished = true;
                foundBeforeUnfinished = found;
            }
            if (!found && key.isIn(line))
                found = true;
            if (!found)
                return;
            ++newLines;
            unfinishedShown = !complete;
            kept.add(line);
        };
        // Until the day's part has begun, the chunks are searched for its first line.
        consumed = readLinesFrom(log, m_log.consumed, keep, found ? nullptr : &key);
        update.lines = kept.latin1LogLines();
    }
    if (consumed < 0) {
        *this = InvokerLogFollower(m_boxLines); // read it all again next time
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.status = AgentFileStatus::Unreadable;
        update.error = log.errorString();
        return update;
    }

    m_valid = true;
    m_status = AgentFileStatus::Read;
    m_dateKey = dateKey;
    m_log.consume(file, log, consumed);
    // The next read starts again at an unfinished last line, with the flag as it stood before it.
    m_found = sawUnfinished ? foundBeforeUnfinished : found;
    m_unfinishedShown = unfinishedShown;
    m_partLines += newLines;

    update.partLines = m_partLines;
    // The box holds the leading break and the lines while they fit, else its last lines only.
    const bool overflows = m_partLines + 1 > m_boxLines;
    if (fromStart || newLines >= m_boxLines) {
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.truncatedFront = overflows;
        if (!overflows)
            return update;
        update.lines = update.lines.mid(update.lines.size() - m_boxLines);
        return update;
    }
    update.kind = InvokerLogUpdate::Kind::Appended;
    update.dropLastShown = wasUnfinishedShown;
    return update;
}

} // namespace corvane
