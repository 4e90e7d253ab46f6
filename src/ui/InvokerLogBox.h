#pragma once

#include "agent/InvokerLogFollower.h"
#include "base/Clock.h"

#include <QDate>
#include <QList>
#include <QPlainTextEdit>
#include <QStringList>

class QLabel;

namespace corvane {

class LogBoxFeed;

// The invoker log below the task list. It follows the log as a terminal does: its end stays in view only
// while the technician is at the end, a selection being made with the mouse is not disturbed, failures and
// warnings are coloured, and an installer's exit code explains itself in a tooltip. It can show only the
// lines of one task.
class InvokerLogBox : public QPlainTextEdit {
    Q_OBJECT

public:
    // `clock` says which day is today for the choice of another day.
    explicit InvokerLogBox(const Clock& clock = systemClock(), QWidget* parent = nullptr);

    // Shows what the follower found; `logPath` is named when the log is missing.
    void showUpdate(const InvokerLogUpdate& update, const QString& logPath);
    // The first read of the log is over, whatever it found: "Reading..." goes.
    void endReading();

    // Shows only the lines containing `text` (a task's operation file), `label` naming the task in the
    // sign above the box; an empty text shows every line again.
    void setOnlyTask(const QString& text, const QString& label);
    QString onlyTask() const { return m_onlyTask; }
    // The box shows the part of `day` (invalid: today's), as the sign above it says.
    void setDay(const QDate& day);

    // The tooltip for the line at `position` in the viewport: the meanings of its installer exit codes.
    QString exitCodeToolTipAt(const QPoint& position) const;

signals:
    void onlyTaskChanged(const QString& text);
    // The technician chose a day to show from the menu, or went back to today (invalid).
    void dayChosen(const QDate& day);

protected:
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void apply(const InvokerLogUpdate& update);
    void showText(const QString& text);
    // Shows `lines`, after an empty first line when `leadingBreak` is set.
    void showLines(const LogLines& lines, bool leadingBreak);
    void showFiltered();
    bool isAtEnd() const;
    void placeSign();
    void showSign();

    QString m_logPath;
    // Every line of the day's part that the box holds, whatever the filter shows.
    LogLines m_lines;
    bool m_missing = false;
    QString m_onlyTask;
    QString m_onlyTaskLabel;
    QDate m_day;
    const Clock& m_clock;
    qint64 m_partLines = 0; // lines of the day's part, shown or not
    qint64 m_earlierShown = -1;
    QLabel* m_sign = nullptr;
    // Updates that came while the technician was selecting with the mouse, applied on release.
    bool m_selecting = false;
    QList<InvokerLogUpdate> m_held;
    // Takes the lines of a long update into the box a slice at a time.
    LogBoxFeed* m_feed = nullptr;
};

} // namespace corvane
