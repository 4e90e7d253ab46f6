#include "TextLines.h"

#include <QIODevice>

#include <algorithm>

namespace corvane {

namespace {
constexpr qint64 kChunkSize = 4 * 1024 * 1024;
}

qint64 readLinesFrom(QIODevice& device, qint64 offset,
                     const std::function<void(QByteArrayView line, bool complete)>& visit) {
    if (!device.seek(offset))
        return -1;
    QByteArray pending; // the start of a line that runs on into the next chunk
    // No larger than what is left to read, so a tick that reads a few new bytes allocates a few bytes.
    const qint64 chunkSize =
        device.isSequential() ? kChunkSize : std::clamp<qint64>(device.size() - offset, 1, kChunkSize);
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = device.read(chunk.data(), chunkSize);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        QByteArrayView data(chunk.constData(), got);
        qsizetype start = 0;
        for (;;) {
            const qsizetype end = data.indexOf('\n', start);
            if (end < 0)
                break;
            QByteArrayView line = data.sliced(start, end - start);
            if (!pending.isEmpty()) {
                pending.append(line);
                line = pending;
            }
            if (line.endsWith('\r'))
                line.chop(1);
            visit(line, true);
            pending.clear();
            start = end + 1;
        }
        pending.append(data.sliced(start));
    }
    // Everything read counts as consumed but the unfinished tail.
    const qint64 consumed = device.pos() - pending.size();
    if (!pending.isEmpty()) {
        QByteArrayView line(pending);
        if (line.endsWith('\r'))
            line.chop(1);
        visit(line, false);
    }
    return consumed;
}

} // namespace corvane
