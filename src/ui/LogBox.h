#pragma once

#include "agent/InvokerLogFollower.h"
#include "base/TextLines.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QPlainTextEdit;

namespace corvane {

// A log line longer than this is cut in the log boxes: a text box lays out a line of many megabytes for
// seconds, and nobody reads that far to the right.
constexpr qsizetype kLogBoxLineLimit = 4000;

inline QString cappedLine(const QString& line) {
    if (line.size() <= kLogBoxLineLimit)
        return line;
    return line.left(kLogBoxLineLimit) +
           QStringLiteral(" [... %1 more characters]").arg(line.size() - kLogBoxLineLimit);
}

// Lines as a log box shows them, one per line, without a break before the first or after the last.
QString joinedForLogBox(const LogLines& lines);

// How the lines a full box drops and those it takes go into it: apart, one change after the other, which a
// box that colours its lines needs (it colours the lines of each change); or as a whole, one change that
// leaves the box's line count as it was, for a box without colours.
enum class LogBoxEdit { Apart, Whole };

// Appends `lines` to `box`, one per line, keeping within its maximum block count. A text box drops the lines
// over its maximum one block at a time and lays out each before it goes: a burst of thousands of lines
// froze the window for most of a second. The oldest lines go here in one cut, before the new ones come.
void appendToLogBox(QPlainTextEdit& box, const LogLines& lines, LogBoxEdit edit = LogBoxEdit::Apart);

// Hands lines to a log box a slice at a time: the first slice at once, the rest one slice per turn of the
// event loop, so that a burst of a megabyte (ten thousand lines) never holds the window for long. A slice
// holds as many lines as the box took in about kSliceBudgetMs before (laying out a line costs from a few
// microseconds to far more, on a busy or slow machine), at most kSliceLines. After each slice the box is
// left at its end when it was there before.
class LogBoxFeed : public QObject {
public:
    static constexpr qsizetype kSliceLines = 250;
    static constexpr qsizetype kFewestSliceLines = 20;
    static constexpr qint64 kSliceBudgetMs = 5;

    explicit LogBoxFeed(QPlainTextEdit& box, LogBoxEdit edit = LogBoxEdit::Apart);

    // Queues `lines` after those still queued; the first slice goes into the box at once.
    void append(const LogLines& lines);
    // Forgets the lines still queued (the box is about to be given other text).
    void clear() { m_queue.clear(); }
    bool hasQueued() const { return !m_queue.isEmpty(); }
    // Takes off the last queued line, if one is: false when every line is in the box.
    bool dropLastQueued();
    // Puts every queued line into the box now.
    void flush();
    // While paused (a selection being made with the mouse), queued lines wait.
    void setPaused(bool paused);

private:
    void feedSlice();

    QPlainTextEdit& m_box;
    const LogBoxEdit m_edit;
    LogLines m_queue;
    qsizetype m_sliceLines = kSliceLines;
    bool m_paused = false;
    bool m_scheduled = false;
};

} // namespace corvane
