#pragma once

#include "agent/ClientDatabase.h"
#include "agent/TaskTable.h"
#include "tasklist/TaskRow.h"

#include <QList>

namespace corvane {

class AgentPaths;
class Feedback;

inline const QString kLoadingDatabaseStatus = QStringLiteral("Loading SQLite : InvokerState");
inline const QString kLoadingScheduledTasksStatus = QStringLiteral("Loading Xml : SDClient.Tasks");

// The most tasks one list holds. A real agent knows hundreds; a scheduled-task file of millions would
// otherwise take gigabytes and seconds of the window's time at every rebuild. Tasks past it are left out
// and counted.
constexpr int kMaxListedTasks = 50000;

// Everything one rebuild of the list reads from the agent. Read off the interface thread and handed over
// whole, so its failures travel as data: an empty reason means that part was read.
struct TaskListSnapshot {
    TaskTable table;
    QList<TaskRow> rows;
    DatabaseRead databaseRead = DatabaseRead::Read;
    QString databaseError; // why the database could not be read (Failed)
    LoadResult database;
    QString scheduledTasksError; // why the scheduled-task file, there, could not be read or parsed
};

// Says how many tasks a list left out past kMaxListedTasks.
QString leftOutNotice(int leftOut);

// Reads the agent's database and scheduled-task file into a new task table and builds its rows, showing
// the progress texts on `feedback`. It may wait on the disk and on the agent's database lock: the window runs
// it off the interface thread.
TaskListSnapshot loadTaskList(const AgentPaths& paths, Feedback& feedback);
// The same without the rows: the table from the database and the scheduled-task file.
TaskListSnapshot loadTaskTable(const AgentPaths& paths, Feedback& feedback);

// What keeps a list just read from being the agent's whole state, one text per problem, worded once for
// every front end (the window's notice, the command line's standard error), in this order: an interrupted
// write rolled back, the database unreadable, rows not read whole, the scheduled-task file unreadable, tasks
// left out, package descriptors unread or names cut. Empty when the list is the agent's whole state. A
// missing database is no read problem: each front end says where it looked for it.
QStringList readProblems(const TaskListSnapshot& snapshot);

} // namespace corvane
