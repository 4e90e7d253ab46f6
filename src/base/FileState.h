#pragma once

#include "base/AgentFile.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

class QIODevice;

namespace corvane {

// What a follower remembers of a file to tell, without reading it, whether it changed: its identity (a file
// replaced under the same name is another file), size and modification time.
struct FileState {
    bool exists = false;
    bool isFile = false;
    quint64 identity = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    static FileState of(const QString& path);
    bool sameFile(const FileState& other) const {
        return isFile && other.isFile && identity == other.identity;
    }
    bool unchangedSince(const FileState& other) const {
        return sameFile(other) && size == other.size && modifiedNs == other.modifiedNs;
    }
};

// A small sample of a file's bytes before a point: the first and the last kFingerprintSpan of them. A
// follower keeps one of what it has read; a log rewritten in place since then, even one that grew past its
// old size, almost surely no longer matches and is read again from its start.
struct FileFingerprint {
    static constexpr qint64 kFingerprintSpan = 4096;

    qint64 end = 0; // -1: nothing could be read, so nothing matches
    QByteArray head;
    QByteArray tail;

    // The fingerprint of the bytes of `file` before `end`. The last ones are read first: a reader that has
    // just read up to `end` still holds them. A `head` of kFingerprintSpan bytes, known to be the file's
    // first ones, is taken as it is.
    static FileFingerprint of(QIODevice& file, qint64 end, const QByteArray& head = QByteArray());
    // Whether `file` still holds the same bytes at the same places.
    bool matches(QIODevice& file) const;
};

// A file that its writer grows, as a follower sees it between two looks: the file it consumed (its
// identity, size and time), how far it consumed it, and a fingerprint of the bytes consumed. The one rule
// for both followers (the invoker log's and the synchroniser log's) of whether a file grew or started over.
struct GrowingFile {
    enum class Look {
        Unchanged, // the same file, untouched since it was consumed
        Appended,  // the same file, no shorter, the bytes consumed still in place: read on from `consumed`
        Restarted, // another file under the name, or shrunk, or rewritten in place: read from the start
    };

    FileState state;             // when consumed; not a file when nothing was
    qint64 consumed = 0;         // where the next read starts
    FileFingerprint fingerprint; // of the bytes before `consumed`

    // How the file at `path`, `now` as FileState::of gives it, relates to what was consumed. A changed time
    // alone (a touch, a rewrite at the same size) is not taken for a restart when the consumed bytes are in
    // place; they are read through the agent-file opener, and only when the file changed.
    Look look(const FileState& now, const QString& path) const;
    // The same, with the file at the path already opened (after `now` was taken): a follower that reads on
    // opens it once, and the bytes that follow those consumed come with the last of them, in one read.
    Look look(const FileState& now, AgentFile& file) const;
    // What to read with the open for that look and the read on, the file at the path being `now`: the first
    // bytes, and the last ones consumed with those that follow them; or, for a file that is read from its
    // start again, its first chunk.
    AgentFileReadAhead readAhead(const FileState& now) const;
    // Starts over: nothing consumed yet.
    void restart() {
        consumed = 0;
        fingerprint = FileFingerprint();
    }
    // Records that `file`, `now` as FileState::of gave it, was consumed up to `end`. `file` still holds the
    // bytes consumed before (look said so, or restart was called): their first ones are not read again.
    void consume(const FileState& now, QIODevice& file, qint64 end);

private:
    // Where the last bytes of the fingerprint start: a look reads from there.
    qint64 tailStart() const {
        return std::max(FileFingerprint::kFingerprintSpan, consumed - FileFingerprint::kFingerprintSpan);
    }
};

} // namespace corvane
