#pragma once

#include "FileState.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvane {

// What one pass over the synchroniser's log finds. Only stamped lines (those holding a ':') count.
struct SyncPass {
    QStringList shownLines;             // stamped lines after the marker, the marker's own text left out
    int policyCount = 0;                // "Download information for" from the marker on
    int xmlCount = 0;                   // "The remote operation file" ... "was downloaded" from the marker on
    std::optional<QString> lastStamped; // the log's last stamped line; nothing when it has none
};

// The last stamped line of a log's content, or an empty text: where a new run's output begins.
QString syncMarkerLine(const QByteArray& content);

// One pass over the whole content, counting and showing from the line equal to `markerLine` on.
SyncPass readSyncPass(const QByteArray& content, const QString& markerLine);

// The run is over when the last stamped line holds "[STOP]" and is not the marker.
bool syncEnded(const QString& currentLine, const QString& markerLine);

// The status text of a finished run: "Synchronized: 2 (1 xml downloaded)".
QString syncSummary(int policyCount, int xmlCount);

// The content of the file at `path`, read whole; a missing or unreadable file reads as empty.
QByteArray readWholeFile(const QString& path);

// The last stamped line of the file at `path`, read from its end backwards in chunks of `chunkSize`: the same
// as syncMarkerLine of the whole content, at the cost of the log's tail only.
QString lastStampedLine(const QString& path, qint64 chunkSize = 64 * 1024);

// Follows the synchroniser's log from pass to pass: each pass reads only what was added since the last one,
// and the whole log again when it shrank or was replaced. Every pass finds exactly what readSyncPass finds
// over the whole content.
class SyncLogFollower {
public:
    explicit SyncLogFollower(const QString& markerLine);
    SyncPass pass(const QString& path);

private:
    // The effect of one line on a pass, as readSyncPass applies it.
    struct State {
        bool pastMarker = false;
        SyncPass pass;
    };
    void apply(State& state, QByteArrayView bytes) const;

    QString m_markerLine;
    FileState m_file;
    qint64 m_consumed = 0; // past the last complete line
    State m_complete;      // what the complete lines found
};

} // namespace corvane
