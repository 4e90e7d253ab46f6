#pragma once

#include "agent/AgentPaths.h"
#include "agent/TaskTable.h"
#include "tasklist/TaskListLoader.h"
#include "tasklist/TaskRow.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

namespace corvane {

class Clock;

// The task list's reads of the agent, one at a time and off the interface thread (a read waits on the disk
// and on the agent's database lock), and what the window shows of them: a read that fails keeps the last
// list read in full, with a notice saying since when and why.
class TaskListRefresh : public QObject {
    Q_OBJECT

public:
    TaskListRefresh(const AgentPaths& paths, const Clock& clock, QObject* parent = nullptr);

    // The agent's files moved: the next read looks there.
    void setPaths(const AgentPaths& paths) { m_paths = paths; }
    // Starts a read. Asked while a read runs, the running read's result is dropped (it may predate the
    // change that asked for this one) and the agent is read again as soon as it ends.
    void start();
    // The running read's result is dropped: something that its rows would overwrite has started.
    void dropRunningRead();
    bool isReading() const { return m_running; }

    // The table behind the rows last handed out by rowsRead; the actions look the checked rows up in it.
    const TaskTable& table() const { return m_table; }
    // When the rows last handed out by rowsRead were read.
    const QDateTime& readAt() const { return m_readAt; }
    // The database was missing at the last read and is there again.
    bool isDatabaseBack() const;
    // What keeps the list from being the agent's whole state as just read; empty when nothing does.
    const QString& notice() const { return m_notice; }

signals:
    // The read's progress texts, for the status line.
    void statusChanged(const QString& text);
    // New rows for the list, to take in one step.
    void rowsRead(const QList<TaskRow>& rows);
    void databaseMissingChanged(bool missing);
    void noticeChanged(const QString& notice);
    // A read has ended and its outcome is shown (new rows, or the last list kept).
    void readEnded();

private:
    void showProgress(const QString& text);
    struct Read {
        TaskListSnapshot snapshot;
        QStringList problems;
        bool scheduledTasksMissing = false;
    };
    void finish(Read read, const QDateTime& startedAt);
    void setNotice(const QString& notice);

    AgentPaths m_paths;
    const Clock& m_clock;
    bool m_running = false;
    bool m_readAgain = false;
    bool m_dropResult = false;
    TaskTable m_table;
    QDateTime m_readAt;
    // When the list shown was read with its database; invalid until a read gets that far.
    QDateTime m_fullReadAt;
    bool m_databaseMissing = false;
    QString m_notice;
};

} // namespace corvane
