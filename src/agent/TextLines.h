#pragma once

#include <QByteArray>
#include <QByteArrayView>

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
