#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace corvane {

// Where the line that starts at `start` of `data` ends: the first CR or LF, or -1.
inline qsizetype lineEndIn(QByteArrayView data, qsizetype start) {
    if (start >= data.size())
        return -1;
    const auto* lineFeed =
        static_cast<const char*>(std::memchr(data.data() + start, '\n', size_t(data.size() - start)));
    const qsizetype searched = (lineFeed ? lineFeed - data.data() : data.size()) - start;
    const auto* carriageReturn =
        static_cast<const char*>(std::memchr(data.data() + start, '\r', size_t(searched)));
    return carriageReturn ? carriageReturn - data.data() : lineFeed ? lineFeed - data.data() : -1;
}

// Whether `line` holds `text`. Asked of every line of logs of millions of lines: a search that starts at
// each occurrence of the first byte, several times faster on lines this short than QByteArrayView's.
inline bool holdsText(QByteArrayView line, QByteArrayView text) {
    return std::string_view(line.data(), size_t(line.size()))
               .find(std::string_view(text.data(), size_t(text.size()))) != std::string_view::npos;
}

// Finds one text in line after line, as holdsText does, or in a chunk of megabytes: a date searched in every
// line of a log of hundreds of megabytes, or through its chunks until the day's first line.
class TextFinder {
public:
    explicit TextFinder(QByteArrayView text)
        : m_text(text.toByteArray()) {}

    bool isIn(QByteArrayView line) const { return indexIn(line, 0) >= 0; }
    // Where the text first occurs in `bytes` from `from` on, or -1: sixteen places are tried at a time, by
    // the text's first, second and last bytes, before any is compared in full.
    qsizetype indexIn(QByteArrayView bytes, qsizetype from) const;
    // Whether the text can only be found inside one line: it holds no line break, and is not empty.
    bool fitsInALine() const { return !m_text.isEmpty() && !m_text.contains('\n') && !m_text.contains('\r'); }

private:
    const QByteArray m_text;
};

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
// whatever the file's size. With `firstWith`, the lines before the first that holds its text are not
// visited: a day's part that starts near the end of a long log is found by a search through the chunks,
// not a line at a time.
qint64 readLinesFrom(QIODevice& device, qint64 offset,
                     const std::function<void(QByteArrayView line, bool complete)>& visit,
                     const TextFinder* firstWith = nullptr);

// `text` as a terminal or a one-line message should show it: every control character (C0, DEL, C1), and
// every character that breaks a line or reorders what follows (line and paragraph separators, direction
// marks, embeddings, overrides and isolates), written as an escape ("\x1b", "\u202e"), so that a name or a
// log line from the agent's files can neither move a cursor, retitle or clear a terminal, nor split a line.
// The characters in `kept` stay as they are (a message's own line breaks, a log's tabs).
QString visibleText(const QString& text, QStringView kept = {});
// Lines of text in one string, one after the other with a line feed between them, and where each ends: the
// ten thousand lines of a log box go from a reader to the box in two allocations instead of one each, and
// the box is given their text without joining them.
class LogLines {
public:
    LogLines() = default;
    static LogLines fromList(const QStringList& lines);

    qsizetype size() const { return m_ends.size(); }
    bool isEmpty() const { return m_ends.isEmpty(); }
    QStringView at(qsizetype i) const {
        return QStringView(m_text).sliced(startOf(i), m_ends.at(i) - startOf(i));
    }
    QStringView last() const { return at(size() - 1); }
    // The lines with a line feed between them, as QStringList::join gives them.
    const QString& joined() const { return m_text; }
    QStringList toList() const;

    void append(QStringView line);
    void append(const LogLines& lines);
    // The `count` lines from `first` on (to the end when `count` is negative).
    LogLines mid(qsizetype first, qsizetype count = -1) const;
    void removeFirst(qsizetype count);
    void removeLast();
    void clear() { *this = LogLines(); }

    bool operator==(const LogLines& other) const { return m_ends == other.m_ends && m_text == other.m_text; }
    bool operator!=(const LogLines& other) const { return !(*this == other); }

private:
    friend class LastLines;
    friend struct LineRun;
    qsizetype startOf(qsizetype i) const { return i > 0 ? m_ends.at(i - 1) + 1 : 0; }

    QString m_text;
    QList<qsizetype> m_ends; // where each line ends in m_text
};

// The lines of bytes that start where a line starts and end where the file ended when it was read, cut as
// readLinesFrom cuts them (an unfinished last line included, a line longer than kMaxLineBytes cut to it):
// how many there are, where the last complete one ends, and the last of them as text. A tick after a burst
// of a megabyte costs a few times reading it: the bytes are cut and made text in one pass, thirty-two at a
// time where the processor can, without a call or a copy per line.
struct LineRun {
    qint64 count = 0;          // the lines, an unfinished last one included
    qsizetype completeEnd = 0; // just past the last line break: where an unfinished last line starts
    bool unfinished = false;   // the last line has no line break yet
    LogLines last;             // the last `keep` lines

    static LineRun of(QByteArrayView bytes, qsizetype keep);
};

// The last `count` lines given to it, kept end to end in one buffer: a log of millions of lines is followed
// without an allocation per line. The bytes kept stay under twice those of the lines kept.
class LastLines {
public:
    explicit LastLines(qsizetype count)
        : m_count(std::max<qsizetype>(count, 1)) {}

    void add(QByteArrayView line);
    // Forgets the lines and keeps the memory: a follower that keeps the same count tick after tick
    // allocates it once.
    void clear() {
        m_ends.clear();
        m_first = 0;
    }
    qsizetype size() const { return m_ends.size() - m_first; }
    // The last line given; empty when none was.
    QByteArrayView last() const {
        if (m_ends.isEmpty())
            return {};
        const qsizetype start = m_ends.size() > 1 ? m_ends.at(m_ends.size() - 2) + 1 : 0;
        return QByteArrayView(m_bytes).sliced(start, m_ends.last() - start);
    }
    // The lines kept, oldest first, one character per byte.
    QStringList latin1Lines() const;
    LogLines latin1LogLines() const;

private:
    qsizetype m_count;
    QByteArray m_bytes;      // the lines from the first one still in it, each followed by a line feed,
                             // then room for more
    QList<qsizetype> m_ends; // where each of those lines ends in m_bytes (where its line feed is)
    qsizetype m_first = 0;   // the first of them that is kept
};

} // namespace corvane
