#include "base/TextLines.h"

#include "base/AgentFile.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane {

namespace {
constexpr qint64 kChunkSize = 4 * 1024 * 1024;

// Widens `p[i, n)` into `out` up to the first CR or LF, thirty-two bytes at a time where the processor can;
// returns where that is, or n. Where one of those bytes breaks a line, only those before it count: the text
// never runs ahead of the bytes, so a buffer of n characters holds it.
inline qsizetype widenToBreak(const uchar* p, qsizetype i, qsizetype n, char16_t*& out) {
    char16_t* o = out;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    const auto breaksIn = [&](__m128i bytes) {
        return unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeed), _mm_cmpeq_epi8(bytes, carriageReturn))));
    };
    for (; i + 32 <= n; i += 32, o += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi8(low, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 8), _mm_unpackhi_epi8(low, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpacklo_epi8(high, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm_unpackhi_epi8(high, zero));
        const unsigned breaks = breaksIn(low) | (breaksIn(high) << 16);
        if (breaks != 0) {
            const int before = __builtin_ctz(breaks);
            out = o + before;
            return i + before;
        }
    }
#endif
    for (; i < n && p[i] != '\n' && p[i] != '\r'; ++i)
        *o++ = char16_t(p[i]);
    out = o;
    return i;
}

// Makes the lines of `p[0, n)` text, as LineRun::of describes them: each complete line followed by one
// line feed, whatever its break was, then an unfinished last line without its CR, if it ends with one;
// `ends` gets where each complete line ends in the text. Returns the text's length and sets `completeEnd`.
qsizetype linesToText(const uchar* p, qsizetype n, char16_t* out, QList<qsizetype>& ends,
                      qsizetype& completeEnd) {
    char16_t* const first = out;
    completeEnd = 0;
    qsizetype i = 0;
    for (;;) {
        char16_t* const lineStart = out;
        i = widenToBreak(p, i, n, out);
        if (out - lineStart > kMaxLineBytes)
            out = lineStart + kMaxLineBytes;
        // The end, or a last CR whose LF may still come: an unfinished line, or none.
        if (i == n || (p[i] == '\r' && i + 1 == n))
            return out - first;
        ends.append(out - first);
        *out++ = u'\n';
        i += p[i] == '\r' && p[i + 1] == '\n' ? 2 : 1;
        completeEnd = i;
    }
}

#if defined(__SSE2__)
// A window of 255 blocks of sixteen bytes: a count per byte lane, raised once per block, cannot overflow.
constexpr qsizetype kCountWindow = 255 * 16;

// The sum of the 16 byte lanes of `lanes`.
inline qint64 sumOfLanes(__m128i lanes) {
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    return _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}
#endif

// Where a cut of the last `lines` lines of `p[0, n)` can start: just past the (lines + 1)-th LF from the end,
// or 0. Counting LFs alone finds no more lines than there are (a lone CR ends one too), so at least `lines`
// whole lines follow; the cut afterwards takes off any more.
qsizetype startBeforeLastLines(const uchar* p, qsizetype n, qsizetype lines) {
    qint64 wanted = qint64(lines) + 1;
    qsizetype end = n;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    while (end >= kCountWindow) {
        const qsizetype start = end - kCountWindow;
        __m128i lanes = _mm_setzero_si128();
        for (qsizetype i = start; i < end; i += 16)
            lanes = _mm_sub_epi8(
                lanes, _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)), lineFeed));
        const qint64 found = sumOfLanes(lanes);
        if (found >= wanted)
            break; // it is in this window
        wanted -= found;
        end = start;
    }
#endif
    for (qsizetype i = end - 1; i >= 0; --i) {
        if (p[i] == '\n' && --wanted == 0)
            return i + 1;
    }
    return 0;
}

// The lines of `p[0, n)`, whole lines each ended by its break: its LFs and the CRs before anything but an LF.
qint64 countLines(const uchar* p, qsizetype n) {
    qint64 count = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i carriageReturn = _mm_set1_epi8('\r');
    for (qsizetype window = 0; window + kCountWindow < n; window += kCountWindow) { // the byte after each too
        __m128i lanes = _mm_setzero_si128();
        for (i = window; i < window + kCountWindow; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
            lanes =
                _mm_sub_epi8(lanes, _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeed),
                                                 _mm_andnot_si128(_mm_cmpeq_epi8(next, lineFeed),
                                                                  _mm_cmpeq_epi8(bytes, carriageReturn))));
        }
        count += sumOfLanes(lanes);
    }
#endif
    for (; i < n; ++i)
        count += p[i] == '\n' || (p[i] == '\r' && (i + 1 == n || p[i + 1] != '\n'));
    return count;
}

} // namespace

LineRun LineRun::of(QByteArrayView bytes, qsizetype keep) {
    LineRun run;
    if (bytes.isEmpty())
        return run;
    // Lines that cannot be kept are only counted; from a little before the first that can, every line is
    // made text, and those not kept are cut off the front after (a cut that moves nothing).
    const auto* const p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype from = startBeforeLastLines(p, bytes.size(), std::max<qsizetype>(keep, 0));
    const qsizetype n = bytes.size() - from;
    QString& text = run.last.m_text;
    QList<qsizetype>& ends = run.last.m_ends;
    text.resize(n);
    ends.reserve(std::min<qsizetype>(n / 32 + 1, std::max<qsizetype>(keep, 0) + 1));
    qsizetype length =
        linesToText(p + from, n, reinterpret_cast<char16_t*>(text.data()), ends, run.completeEnd);
    run.unfinished = run.completeEnd < n;
    run.completeEnd += from;
    if (run.unfinished)
        ends.append(length);
    else
        --length; // no line feed after the last line
    text.truncate(length);
    run.count = countLines(p, from) + ends.size();
    const qsizetype surplus = ends.size() - std::max<qsizetype>(keep, 0);
    if (surplus >= ends.size()) {
        run.last.clear();
    } else if (surplus > 0) {
        const qsizetype cut = ends.at(surplus - 1) + 1;
        text.remove(0, cut);
        ends.remove(0, surplus);
        for (qsizetype& end : ends)
            end -= cut;
    }
    return run;
}

qsizetype TextFinder::indexIn(QByteArrayView bytes, qsizetype from) const {
    const qsizetype length = m_text.size();
    if (length == 0)
        return from <= bytes.size() ? from : -1;
    const auto* const p = reinterpret_cast<const uchar*>(bytes.data());
    const auto* const text = reinterpret_cast<const uchar*>(m_text.constData());
    const auto holdsTextAt = [&](qsizetype at) {
        return std::memcmp(p + at + 1, text + 1, size_t(length - 1)) == 0;
    };
    qsizetype at = from;
#if defined(__SSE2__)
    // The first, second and last bytes: a date differs from the day before in its second byte.
    const qsizetype second = length > 2 ? 1 : 0;
    const __m128i first = _mm_set1_epi8(char(text[0]));
    const __m128i next = _mm_set1_epi8(char(text[second]));
    const __m128i last = _mm_set1_epi8(char(text[length - 1]));
    const auto bytesAt = [p](qsizetype i) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    };
    for (; at + length - 1 + 16 <= bytes.size(); at += 16) {
        unsigned candidates = unsigned(_mm_movemask_epi8(_mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(bytesAt(at), first), _mm_cmpeq_epi8(bytesAt(at + second), next)),
            _mm_cmpeq_epi8(bytesAt(at + length - 1), last))));
        while (candidates != 0) {
            const qsizetype candidate = at + __builtin_ctz(candidates);
            if (holdsTextAt(candidate))
                return candidate;
            candidates &= candidates - 1;
        }
    }
#endif
    for (; at + length <= bytes.size(); ++at) {
        if (p[at] == text[0] && holdsTextAt(at))
            return at;
    }
    return -1;
}

namespace {

// Where, in `data` from the line start `start` on, the line that holds the first occurrence of `text` starts;
// without one, where the last line of `data` starts (it may run on into the next chunk). The lines skipped
// end inside `data` and hold no occurrence. A CR at the end of `data` ends no skipped line: its LF may come
// with the next chunk.
qsizetype startOfLineWith(QByteArrayView data, qsizetype start, const TextFinder& text) {
    const qsizetype found = text.indexIn(data, start);
    qsizetype lastBreak = (found >= 0 ? found : data.size() - 1) - 1;
    while (lastBreak >= start && data.at(lastBreak) != '\n' && data.at(lastBreak) != '\r')
        --lastBreak;
    if (lastBreak < start)
        return start;
    if (data.at(lastBreak) == '\r' && lastBreak + 1 < data.size() && data.at(lastBreak + 1) == '\n')
        ++lastBreak; // CR LF is one line break
    return lastBreak + 1;
}

} // namespace

qint64 readLinesFrom(QIODevice& device, qint64 offset,
                     const std::function<void(QByteArrayView line, bool complete)>& visit,
                     const TextFinder* firstWith) {
    if (!device.seek(offset))
        return -1;
    // A file is read up to the size it had when the read began: a writer faster than this reader cannot
    // keep it reading forever, and what it adds meanwhile is read next time.
    const qint64 end = device.isSequential() ? -1 : device.size();
    QByteArray pending; // the start of a line that runs on into the next chunk, at most kMaxLineBytes
    qint64 pendingStart = offset; // where that line starts in the device
    // The pending line ended with a CR at the end of the last chunk: whether an LF follows is not known yet.
    // At the end of the data such a line stays unfinished, since the writer may be about to add the LF.
    bool carriageReturnPending = false;
    // No larger than what is left to read, so a tick that reads a few new bytes allocates a few bytes.
    const qint64 chunkSize = end < 0 ? kChunkSize : std::clamp<qint64>(end - offset, 1, kChunkSize);
    // An agent file hands over the bytes where it read them to; another device copies them into a chunk.
    auto* const agentFile = dynamic_cast<AgentFile*>(&device);
    QByteArray chunk(agentFile ? 0 : chunkSize, Qt::Uninitialized);
    const auto appendCapped = [&pending](QByteArrayView bytes) {
        pending.append(bytes.first(std::min<qsizetype>(bytes.size(), kMaxLineBytes - pending.size())));
    };
    bool seeking = firstWith && firstWith->fitsInALine();
    const auto visitLine = [&](QByteArrayView line, bool complete) {
        visit(line, complete);
        if (seeking && firstWith->isIn(line))
            seeking = false;
    };
    qint64 position = offset;
    for (;;) {
        const qint64 wanted = end < 0 ? chunkSize : std::min(chunkSize, end - position);
        if (wanted <= 0)
            break;
        QByteArrayView data;
        if (agentFile) {
            if (!agentFile->readView(wanted, data))
                return -1;
        } else {
            const qint64 read = device.read(chunk.data(), wanted);
            if (read < 0)
                return -1;
            data = QByteArrayView(chunk.constData(), read);
        }
        const qint64 got = data.size();
        if (got == 0)
            break;
        qsizetype start = 0;
        if (carriageReturnPending) {
            carriageReturnPending = false;
            visitLine(pending, true);
            pending.clear();
            if (data.front() == '\n')
                start = 1;
            pendingStart = position + start;
        }
        for (;;) {
            if (seeking && pendingStart == position + start) { // a line starts here, nothing pending
                start = startOfLineWith(data, start, *firstWith);
                pendingStart = position + start;
            }
            const qsizetype lineEnd = lineEndIn(data, start);
            if (lineEnd < 0)
                break;
            QByteArrayView line = data.sliced(start, lineEnd - start);
            if (pendingStart < position) { // the line began in an earlier chunk
                appendCapped(line);
                line = pending;
            } else if (line.size() > kMaxLineBytes) {
                line.truncate(kMaxLineBytes);
            }
            if (data.at(lineEnd) == '\r' && lineEnd + 1 == data.size()) {
                // Its LF, if any, is in the next chunk: the line is ended there.
                if (pendingStart >= position)
                    appendCapped(line);
                carriageReturnPending = true;
                start = data.size();
                break;
            }
            visitLine(line, true);
            pending.clear();
            start = lineEnd + 1;
            if (data.at(lineEnd) == '\r' && data.at(start) == '\n') // CR LF is one line break
                ++start;
            pendingStart = position + start;
        }
        appendCapped(data.sliced(start));
        position += got;
    }
    // Everything read counts as consumed but the unfinished tail.
    const qint64 consumed = pendingStart;
    if (!pending.isEmpty() || carriageReturnPending)
        visit(pending, false);
    return consumed;
}

QString visibleText(const QString& text, QStringView kept) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7F && code < 0xA0);
        const bool layout = code == 0x2028 || code == 0x2029 || code == 0x200E || code == 0x200F ||
                            (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
        if ((control || layout) && !kept.contains(c))
            shown += code < 0x100 ? QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'))
                                  : QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

void LastLines::add(QByteArrayView line) {
    // m_bytes is sized ahead, and only the part up to the last line's line feed is used: a log's burst adds
    // ten thousand lines, each copied in place rather than through an append.
    qsizetype used = m_ends.isEmpty() ? 0 : m_ends.last() + 1;
    if (used + line.size() + 1 > m_bytes.size())
        m_bytes.resize(std::max(2 * m_bytes.size(), used + line.size() + 1 + 4096));
    char* const at = m_bytes.data() + used;
    if (!line.isEmpty())
        std::memcpy(at, line.data(), size_t(line.size()));
    at[line.size()] = '\n';
    m_ends.append(used + line.size());
    used += line.size() + 1;
    if (size() <= m_count)
        return;
    ++m_first;
    // The lines that went are cut off once they hold as many bytes as those kept, so each byte is moved
    // at most once on average.
    const qsizetype gone = m_ends.at(m_first - 1) + 1;
    if (gone < used - gone)
        return;
    std::memmove(m_bytes.data(), m_bytes.constData() + gone, size_t(used - gone));
    m_ends.remove(0, m_first);
    for (qsizetype& end : m_ends)
        end -= gone;
    m_first = 0;
}

LogLines LastLines::latin1LogLines() const {
    LogLines lines;
    if (size() == 0)
        return lines;
    // The kept lines with their line feeds between them are the text as it is: one conversion.
    const qsizetype from = m_first > 0 ? m_ends.at(m_first - 1) + 1 : 0;
    lines.m_text = QString::fromLatin1(QByteArrayView(m_bytes).sliced(from, m_ends.last() - from));
    lines.m_ends.reserve(size());
    for (qsizetype i = m_first; i < m_ends.size(); ++i)
        lines.m_ends.append(m_ends.at(i) - from);
    return lines;
}

LogLines LogLines::fromList(const QStringList& list) {
    LogLines lines;
    lines.m_text = list.join(QLatin1Char('\n'));
    lines.m_ends.reserve(list.size());
    qsizetype end = -1;
    for (const QString& line : list) {
        end += 1 + line.size();
        lines.m_ends.append(end);
    }
    return lines;
}

QStringList LogLines::toList() const {
    QStringList list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i).toString());
    return list;
}

void LogLines::append(QStringView line) {
    if (!isEmpty())
        m_text += QLatin1Char('\n');
    m_text += line;
    m_ends.append(m_text.size());
}

void LogLines::append(const LogLines& lines) {
    if (lines.isEmpty())
        return;
    if (isEmpty()) {
        *this = lines;
        return;
    }
    const qsizetype shift = m_text.size() + 1;
    m_text += QLatin1Char('\n');
    m_text += lines.m_text;
    m_ends.reserve(size() + lines.size());
    for (const qsizetype end : lines.m_ends)
        m_ends.append(end + shift);
}

LogLines LogLines::mid(qsizetype first, qsizetype count) const {
    first = std::clamp<qsizetype>(first, 0, size());
    const qsizetype last = count < 0 ? size() : std::min(size(), first + count);
    LogLines lines;
    if (first >= last)
        return lines;
    if (first == 0 && last == size())
        return *this;
    const qsizetype from = startOf(first);
    lines.m_text = m_text.mid(from, m_ends.at(last - 1) - from);
    lines.m_ends.reserve(last - first);
    for (qsizetype i = first; i < last; ++i)
        lines.m_ends.append(m_ends.at(i) - from);
    return lines;
}

void LogLines::removeFirst(qsizetype count) {
    if (count <= 0)
        return;
    if (count >= size()) {
        clear();
        return;
    }
    const qsizetype cut = startOf(count);
    m_text.remove(0, cut);
    m_ends.remove(0, count);
    for (qsizetype& end : m_ends)
        end -= cut;
}

void LogLines::removeLast() {
    if (isEmpty())
        return;
    m_ends.removeLast();
    m_text.truncate(isEmpty() ? 0 : m_ends.last());
}

QStringList LastLines::latin1Lines() const {
    QStringList lines;
    lines.reserve(size());
    for (qsizetype i = m_first; i < m_ends.size(); ++i) {
        const qsizetype start = i > 0 ? m_ends.at(i - 1) + 1 : 0;
        lines.append(QString::fromLatin1(QByteArrayView(m_bytes).sliced(start, m_ends.at(i) - start)));
    }
    return lines;
}

} // namespace corvane
