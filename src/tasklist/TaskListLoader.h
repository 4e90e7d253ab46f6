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

// Everything one rebuild of the list reads from the agent.
struct TaskListSnapshot {
    TaskTable table;
    QList<TaskRow> rows;
    LoadResult database;
    bool scheduledTasksRead = true; // false when the file exists but could not be read or parsed
    QString scheduledTasksError;    // why, when it could not
};

// Says how many tasks a list left out past kMaxListedTasks.
QString leftOutNotice(int leftOut);

// Reads the agent's database and scheduled-task file into a new task table and builds its rows, showing
// the progress texts on `feedback`. Database errors land in `dbErrorText`. It may wait on the disk and on
// the agent's database lock: the window runs it off the interface thread.
TaskListSnapshot loadTaskList(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback);
// The same without the rows: the table from the database and the scheduled-task file.
TaskListSnapshot loadTaskTable(const AgentPaths& paths, QString& dbErrorText, Feedback& feedback);

} // namespace corvane
