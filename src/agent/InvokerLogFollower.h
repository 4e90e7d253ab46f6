#pragma once

#include "agent/InvokerLog.h"
#include "base/FileState.h"
#include "base/TextLines.h"

#include <QDate>
#include <QStringList>

#include <optional>

namespace corvane {

// How many lines the invoker log box keeps: the end of the day's log, however long the day was.
constexpr int kLogBoxLines = 10000;

// What changed in the log box's text since the last update.
struct InvokerLogUpdate {
    enum class Kind {
        Unchanged, // nothing to do; the file was not read
        Appended,  // `lines` follow what is shown
        Replaced,  // `lines` are the whole text now
    };
    Kind kind = Kind::Unchanged;
    AgentFileStatus status = AgentFileStatus::Read;
    LogLines lines;
    bool dropLastShown = false;  // Appended: the shown last line was unfinished and comes again in `lines`
    bool truncatedFront = false; // Replaced: only the last lines of the day's part, without the leading break
    qint64 partLines = 0;        // lines of the day's part so far, shown or not
    QString error;               // Unreadable: why
};

// Follows the invoker log from tick to tick, reading only what was added: a tick with nothing new reads
// nothing, a grown file is read from where the last read ended, and a file that shrank, was replaced or
// rewritten in place (its fingerprint changed), or a new day, is read again in full. Applying every update
// gives what a full read shows: the day's part, or its last `boxLines` lines (counting the leading line
// break) when it is longer.
class InvokerLogFollower {
public:
    explicit InvokerLogFollower(int boxLines);

    InvokerLogUpdate update(const QString& path, const QDate& date);
    // The same, unless it would read more than `atMostBytes`: then nothing is read and nothing changes (a
    // caller on the interface thread hands such a read to a worker).
    std::optional<InvokerLogUpdate> update(const QString& path, const QDate& date, qint64 atMostBytes);

private:
    InvokerLogUpdate missing();
    InvokerLogUpdate read(AgentFile& log, const FileState& file, const QString& dateKey, bool fromStart);

    int m_boxLines;
    bool m_valid = false;
    AgentFileStatus m_status = AgentFileStatus::Read;
    QString m_dateKey;
    GrowingFile m_log;              // consumed up to where the unfinished last line starts, or the end
    bool m_found = false;           // the day's first line is among the complete lines
    bool m_unfinishedShown = false; // an unfinished last line is part of the shown text
    qint64 m_partLines = 0;         // lines of the day's part, an unfinished one included
    LastLines m_kept{m_boxLines};   // the last lines of a read, its memory kept from read to read
};

} // namespace corvane
