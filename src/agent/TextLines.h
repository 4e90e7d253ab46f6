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

// Reads `device` from `offset` to its end in chunks, calling `visit(line, complete)` for each line with the
// same line rules as forEachLine; `complete` is false for a last line with no line feed yet. Returns the
// offset just past the last complete line (where an unfinished last line starts), or -1 when reading fails.
// Memory stays at one chunk and one line, whatever the file's size.
qint64 readLinesFrom(QIODevice& device, qint64 offset,
                     const std::function<void(QByteArrayView line, bool complete)>& visit);

} // namespace corvane
