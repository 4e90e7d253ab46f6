#pragma once

#include "base/TextLines.h"

#include <QWidget>

class QPlainTextEdit;

namespace corvane {

class LogBoxFeed;

// "Policy Sync log": the lines a synchronisation adds to the synchroniser's log, one per line, the last in
// view, then the run's summary. A plain viewer, not modal, sized by the technician. It keeps the last
// kSyncLogLines lines, however much the synchroniser writes.
class Form2 : public QWidget {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);

    // Empties the text: a new run, or a log started afresh.
    void clearLines();
    // Adds `lines` after the text, one per line, and scrolls to the last one.
    void appendLines(const LogLines& lines);
    // Places the window beside `mainWindow`, sized for a usual line of the log.
    void placeBeside(const QWidget& mainWindow);
    // The text, each line ended by a line break, lines still on their way into the box included.
    QString text() const;

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void Form_Resize();

    QPlainTextEdit* Text1 = nullptr;
    LogBoxFeed* m_feed = nullptr;
};

} // namespace corvane
