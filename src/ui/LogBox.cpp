#include "ui/LogBox.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

namespace corvane {

QString joinedForLogBox(const LogLines& lines) {
    qsizetype i = 0;
    while (i < lines.size() && lines.at(i).size() <= kLogBoxLineLimit)
        ++i;
    if (i == lines.size())
        return lines.joined(); // no line to cut: the text as it is
    QStringList capped;
    capped.reserve(lines.size());
    for (i = 0; i < lines.size(); ++i)
        capped << cappedLine(lines.at(i).toString());
    return capped.join(QLatin1Char('\n'));
}

void appendToLogBox(QPlainTextEdit& box, const LogLines& lines, LogBoxEdit edit) {
    if (lines.isEmpty())
        return;
    const qsizetype limit = box.maximumBlockCount();
    QTextDocument& document = *box.document();
    if (limit > 0 && lines.size() >= limit) { // only the new lines stay
        box.setPlainText(joinedForLogBox(lines.mid(lines.size() - limit)));
        return;
    }
    const qsizetype surplus = limit > 0 ? document.blockCount() + lines.size() - limit : 0;
    if (edit == LogBoxEdit::Whole && surplus > 0 && surplus < document.blockCount()) {
        // A full box keeps its line count: the view keeps its place and its scroll bars their range, so
        // neither the lines scrolled past nor the scroll bars are laid out or drawn again.
        QTextCursor cursor(&document);
        cursor.beginEditBlock();
        cursor.setPosition(document.findBlockByNumber(int(surplus)).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(joinedForLogBox(lines));
        cursor.endEditBlock();
        return;
    }
    if (surplus > 0 && !document.isEmpty()) {
        QTextCursor cut(&document);
        cut.beginEditBlock(); // no line is laid out for the cut
        cut.setPosition(document.findBlockByNumber(int(surplus)).position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
        cut.endEditBlock();
        if (document.isEmpty()) { // one empty line is left, which appending would take for no text
            box.setPlainText(QStringLiteral("\n") + joinedForLogBox(lines));
            return;
        }
    }
    box.appendPlainText(joinedForLogBox(lines));
}

LogBoxFeed::LogBoxFeed(QPlainTextEdit& box, LogBoxEdit edit)
    : QObject(&box)
    , m_box(box)
    , m_edit(edit) {}

void LogBoxFeed::append(const LogLines& lines) {
    if (lines.isEmpty())
        return;
    m_queue.append(lines);
    // Lines the box could not hold anyway are not given to it.
    const qsizetype limit = m_box.maximumBlockCount();
    if (limit > 0 && m_queue.size() > limit)
        m_queue.removeFirst(m_queue.size() - limit);
    if (!m_paused && !m_scheduled)
        feedSlice();
}

bool LogBoxFeed::dropLastQueued() {
    if (m_queue.isEmpty())
        return false;
    m_queue.removeLast();
    return true;
}

void LogBoxFeed::flush() {
    while (!m_queue.isEmpty()) {
        QScrollBar& bar = *m_box.verticalScrollBar();
        const bool atEnd = bar.value() >= bar.maximum();
        appendToLogBox(m_box, std::exchange(m_queue, {}), m_edit);
        if (atEnd)
            bar.setValue(bar.maximum());
    }
}

void LogBoxFeed::setPaused(bool paused) {
    m_paused = paused;
    if (!m_paused && !m_scheduled && !m_queue.isEmpty())
        feedSlice();
}

void LogBoxFeed::feedSlice() {
    m_scheduled = false;
    if (m_paused || m_queue.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    QScrollBar& bar = *m_box.verticalScrollBar();
    const bool atEnd = bar.value() >= bar.maximum();
    const qsizetype count = std::min(m_sliceLines, m_queue.size());
    appendToLogBox(m_box, m_queue.mid(0, count), m_edit);
    m_queue.removeFirst(count);
    if (atEnd)
        bar.setValue(bar.maximum());
    const qint64 nsPerLine = std::max<qint64>(clock.nsecsElapsed() / count, 1);
    m_sliceLines =
        std::clamp<qsizetype>(kSliceBudgetMs * 1000 * 1000 / nsPerLine, kFewestSliceLines, kSliceLines);
    if (!m_queue.isEmpty()) {
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] { feedSlice(); });
    }
}

} // namespace corvane
