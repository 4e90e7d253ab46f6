#pragma once

#include "base/FileState.h"
#include "base/TextLines.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// How many lines of a run the sync log window keeps, and a pass hands on at most: a synchroniser that
// writes megabytes a second must not fill memory, and nobody scrolls back a hundred thousand lines.
constexpr int kSyncLogLines = 10000;

// What a run's stamped lines (those holding a ':') add up to; other lines count for nothing.
struct SyncTally {
    int policyCount = 0;                // "Download information for"
    int xmlCount = 0;                   // "The remote operation file" ... "was downloaded"
    std::optional<QString> lastStamped; // the run's last stamped line so far

    // Only stamped lines are shown and counted.
    static bool isStamped(QByteArrayView line);
    void add(const QString& stampedLine);
};

// What one pass over the synchroniser's log found.
struct SyncPass {
    // The run's lines start afresh with `lines`: the log was replaced, truncated or rewritten since the last
    // pass, so what was shown before is no longer in it.
    bool fromStart = false;
    LogLines lines;                        // stamped lines completed since the last pass, the last ones only
    qint64 linesLeftOut = 0;               // stamped lines completed since the last pass but not in `lines`
    std::optional<QString> unfinishedLine; // a stamped last line whose line end is not written yet
    SyncTally tally;                       // the whole run so far, an unfinished stamped line included
    bool logChanged = false;               // the log was written, replaced or removed since the last pass
};

// The run is over when its last stamped line holds "[STOP]".
bool syncEnded(const SyncTally& tally);

// The status text of a finished run: "Synchronized: 2 (1 xml downloaded)", and for a run that joined a
// synchroniser already running, what it saw of it: "Synchronized: 2 (1 xml downloaded), joined a run in
// progress".
QString syncSummary(const SyncTally& tally, bool joined = false);

// Follows the synchroniser's log for one run. The run's lines are those written after the log's end as it
// stood when the follower was made, or, once the log was replaced, truncated or rewritten in place, all the
// lines of the log as it stands now. Each pass reads only what was added since the last one.
class SyncLogFollower {
public:
    // Takes the log's identity, size and fingerprint now, without reading its lines: where the run begins.
    explicit SyncLogFollower(const QString& path);

    // Reads what was added. `final`: the synchroniser has exited, so an unfinished last line is complete.
    SyncPass pass(bool final = false);

private:
    void restart(SyncPass& pass);

    QString m_path;
    GrowingFile m_log;    // consumed past the last complete line read
    SyncTally m_complete; // what the complete lines found
};

} // namespace corvane
