#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace corvane {

// Calls `visit` with each line of `content` as the agent's text readers see lines: ended by LF, a CR before
// the LF dropped, no empty last line after a final line break.
template <typename Visit> void forEachLine(const QByteArray& content, Visit visit) {
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        QByteArrayView line(content.constData() + start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        visit(line);
        start = end + 1;
    }
}

} // namespace corvane

class QIODevice;

namespace corvane {

// A line longer than this is cut to it by readLinesFrom, the rest of it up to its line feed dropped: a file
// with no line feed in gigabytes must not be held in memory as one line. No log line a person reads is
// a fraction of this long.
constexpr qsizetype kMaxLineBytes = 1024 * 1024;

// Reads `device` from `offset` to the end it has when the read begins, in chunks, calling `visit(line,
// complete)` for each line with the same line rules as forEachLine; `complete` is false for a last line with
// no line feed yet. Returns the offset just past the last complete line (where an unfinished last line
// starts), or -1 when reading fails. Memory stays at one chunk and one line of at most kMaxLineBytes,
// whatever the file's size.
qint64 readLinesFrom(QIODevice& device, qint64 offset,
                     const std::function<void(QByteArrayView line, bool complete)>& visit);

} // namespace corvane
