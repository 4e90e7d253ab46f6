#include "agent/InvokerLogFollower.h"

#include "base/AgentFile.h"
#include "base/TextLines.h"

namespace corvane {

InvokerLogFollower::InvokerLogFollower(int boxLines)
    : m_boxLines(std::max(boxLines, 2)) {}

InvokerLogFollower::Plan InvokerLogFollower::plan(const QString& path, const FileState& file,
                                                  const QString& dateKey) const {
    // Something there that is no regular file is read, and refused, as the reader's own error.
    if (!file.exists)
        return m_valid && m_status == AgentFileStatus::Missing ? Plan::Nothing : Plan::Missing;
    if (!m_valid || m_status != AgentFileStatus::Read || dateKey != m_dateKey)
        return Plan::Full;
    // Anything but an append (another file, shrunk, or rewritten, even rewritten longer) is read again.
    switch (m_log.look(file, path)) {
    case GrowingFile::Look::Unchanged:
        return Plan::Nothing;
    case GrowingFile::Look::Appended:
        return Plan::Append;
    case GrowingFile::Look::Restarted:
        break;
    }
    return Plan::Full;
}

qint64 InvokerLogFollower::pendingBytes(const QString& path, const QDate& date) const {
    const FileState file = FileState::of(path);
    switch (plan(path, file, invokerDateKey(date))) {
    case Plan::Nothing:
    case Plan::Missing:
        return 0;
    case Plan::Append:
        return file.size - m_log.consumed;
    case Plan::Full:
        break;
    }
    return file.size;
}

InvokerLogUpdate InvokerLogFollower::update(const QString& path, const QDate& date) {
    const QString dateKey = invokerDateKey(date);
    const FileState file = FileState::of(path);
    switch (plan(path, file, dateKey)) {
    case Plan::Nothing:
        return InvokerLogUpdate();
    case Plan::Missing: {
        *this = InvokerLogFollower(m_boxLines);
        m_valid = true;
        m_status = AgentFileStatus::Missing;
        InvokerLogUpdate update;
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.status = AgentFileStatus::Missing;
        return update;
    }
    case Plan::Full:
        return read(path, file, dateKey, true);
    case Plan::Append:
        break;
    }
    return read(path, file, dateKey, false);
}

InvokerLogUpdate InvokerLogFollower::read(const QString& path, const FileState& file, const QString& dateKey,
                                          bool fromStart) {
    InvokerLogUpdate update;
    AgentFile log;
    QString openError;
    const AgentFileStatus opened = openAgentFile(log, path, openError);
    if (opened == AgentFileStatus::Missing) {
        *this = InvokerLogFollower(m_boxLines);
        m_valid = true;
        m_status = AgentFileStatus::Missing;
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.status = AgentFileStatus::Missing;
        return update;
    }
    if (fromStart) {
        m_log.restart();
        m_found = false;
        m_unfinishedShown = false;
        m_partLines = 0;
    }
    const bool wasUnfinishedShown = m_unfinishedShown;
    if (wasUnfinishedShown)
        --m_partLines; // it comes again, finished or longer

    // Only the last lines can be shown, so only they are kept.
    LastLines kept(m_boxLines);
    qint64 newLines = 0;
    bool found = m_found;
    bool sawUnfinished = false;
    bool unfinishedShown = false;
    bool foundBeforeUnfinished = m_found;
    const TextFinder key(dateKey.toLatin1());
    const qint64 consumed = opened != AgentFileStatus::Read
                                ? -1
                                : readLinesFrom(log, m_log.consumed, [&](QByteArrayView line, bool complete) {
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
                                  });
    if (consumed < 0) {
        *this = InvokerLogFollower(m_boxLines); // read it all again next time
        update.kind = InvokerLogUpdate::Kind::Replaced;
        update.status = AgentFileStatus::Unreadable;
        update.error = opened == AgentFileStatus::Read ? log.errorString() : openError;
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
    update.lines = kept.latin1Lines();
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
