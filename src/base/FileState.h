#pragma once

#include <QByteArray>
#include <QString>

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

    // The fingerprint of the bytes of `file` before `end`.
    static FileFingerprint of(QIODevice& file, qint64 end);
    // Whether `file` still holds the same bytes at the same places.
    bool matches(QIODevice& file) const;
};

} // namespace corvane
