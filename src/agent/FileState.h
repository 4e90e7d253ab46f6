#pragma once

#include <QString>

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

} // namespace corvane
