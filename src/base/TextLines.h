#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstring>
#include <functional>

namespace corvane {

// Where the line that starts at `start` of `data` ends: the first CR or LF, or -1.
inline qsizetype lineEndIn(QByteArrayView data, qsizetype start) {
    const qsizetype lineFeed = data.indexOf('\n', start);
    const qsizetype searched = (lineFeed < 0 ? data.size() : lineFeed) - start;
    const auto* carriageReturn =
        static_cast<const char*>(std::memchr(data.data() + start, '\r', size_t(searched)));
    return carriageReturn ? carriageReturn - data.data() : lineFeed;
}

} // namespace corvane

class QIODevice;

namespace corvane {

// A line longer than this is cut to it by readLinesFrom, the rest of it up to its line feed dropped: a file
// with no line feed in gigabytes must not be held in memory as one line. No log line a person reads is
// a fraction of this long.
constexpr qsizetype kMaxLineBytes = 1024 * 1024;

// Reads `device` from `offset` to the end it has when the read begins, in chunks, calling `visit(line,
// complete)` for each line as the agent's text readers see lines: ended by LF, CR LF or a lone CR, no empty
// last line after a final line break; `complete` is false for a last line with no line break yet. Returns
// the offset just past the last complete line (where an unfinished last line starts), or -1 when reading
// fails. Memory stays at one chunk and one line of at most kMaxLineBytes,
// whatever the file's size.
qint64 readLinesFrom(QIODevice& device, qint64 offset,
                     const std::function<void(QByteArrayView line, bool complete)>& visit);

// `text` as a terminal or a one-line message should show it: every control character (C0, DEL, C1), and
// every character that breaks a line or reorders what follows (line and paragraph separators, direction
// marks, embeddings, overrides and isolates), written as an escape ("\x1b", "\u202e"), so that a name or a
// log line from the agent's files can neither move a cursor, retitle or clear a terminal, nor split a line.
// The characters in `kept` stay as they are (a message's own line breaks, a log's tabs).
QString visibleText(const QString& text, QStringView kept = {});

} // namespace corvane
